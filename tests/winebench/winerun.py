#!/usr/bin/env python3
"""Runs one Windows test program under wine64 in a Wine prefix of its own.

    winerun.py --root BUILD --make-template
    winerun.py --root BUILD --probe-x86 --exe PROBE
    winerun.py --root BUILD --name NAME --exe EXE [--arch x64|x86] [--bindir DIR]
               [--version V] [--display] [--timeout S] [--env K=V ...]
               [--no-services] [--only WHY] [--keep] [-- ARGS ...]

The template prefix (BUILD/winebench/template) is made once with
`wineboot -i` under a lock and reused while the installed Wine stays the same;
each test gets a copy in BUILD/wineprefixes/NAME and a scratch directory in
BUILD/winetmp/NAME. Both are deleted after a passing test and kept after a
failure. The exit code is the test program's (124 after a timeout, 125 when
the bench itself failed, 77 for an x86 test on a machine that cannot run the
i686 build: --probe-x86 found that out once and said so in one line).
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time

WINE = '/usr/lib/wine/wine64'
# Debian's wine32:i386 loader; a prefix made by wine64 with it installed runs
# both builds (C:\windows\syswow64 holds the 32-bit DLLs).
WINE32 = '/usr/lib/wine/wine'
WINE_FOR = {'x64': WINE, 'x86': WINE32}
RC_SKIP = 77
X86_STATUS = 'x86-status'
WINESERVER = '/usr/lib/wine/wineserver64'
WINE_INF = '/usr/share/wine/wine.inf'
WINE_FONTS = '/usr/share/wine/fonts'
# Wine's own fonts that a prefix gets in C:\windows\Fonts, where Windows keeps
# them too. Debian's Wine names its data directory /usr/lib/wine/../../share/wine
# and looks for these fonts below it through a Windows path with those '..'
# steps in it, which its file layer does not resolve: fonts-wine's files are
# never read from /usr/share/wine/fonts. Marlett draws the caption buttons
# (without it they show as the letters 0, 1, 2 and r). The other faces of
# fonts-wine stay out: the texts' metrics come from fonts-liberation and
# DejaVu, as the layout tests expect.
PREFIX_FONTS = ('marlett.ttf',)
VERSIONS = ('win95', 'win98', 'nt351', 'nt40', 'win2k', 'default')
RC_TIMEOUT = 124
RC_BENCH = 125
STAMP = '.qv-template-stamp'


class BenchError(Exception):
    pass


class Terminated(Exception):
    pass


def log(msg):
    print('winerun: ' + msg, file=sys.stderr, flush=True)


def windows_path(unix_path, trailing=True):
    """The Z:\\ form of a Unix path (Wine maps Z: to /)."""
    p = 'Z:' + os.path.abspath(unix_path).replace('/', '\\')
    if trailing and not p.endswith('\\'):
        p += '\\'
    return p


def base_env(prefix):
    env = dict(os.environ)
    env['WINEPREFIX'] = prefix
    env['WINEDEBUG'] = '-all'
    # Nothing of ours needs .NET or the HTML engine; do not offer to fetch them.
    env['WINEDLLOVERRIDES'] = 'mscoree,mshtml='
    env.pop('DISPLAY', None)
    env.pop('WAYLAND_DISPLAY', None)
    return env


def detached(cmd, env, **kw):
    """Starts a helper with stdin/stdout/stderr at /dev/null in a session of
    its own, so that no pipe of ours is held open by Wine's services."""
    return subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True, **kw)


def kill_server(prefix):
    """Ends every process of this prefix (never anything else)."""
    env = base_env(prefix)
    try:
        subprocess.run([WINESERVER, '-k'], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
    except subprocess.TimeoutExpired:
        log('wineserver -k did not return within 30 s for ' + prefix)


def server_dir(prefix):
    """The socket directory of the prefix's wineserver, or None. Debian's Wine
    keeps it in a mkdtemp directory named in PREFIX/wineserver, with one
    server-<dev>-<inode> entry per prefix."""
    try:
        with open(os.path.join(prefix, 'wineserver')) as f:
            base = f.read().strip()
        st = os.stat(prefix)
    except OSError:
        return None
    if not re.fullmatch(r'wine-[A-Za-z0-9]+', base):
        return None
    return os.path.join('/tmp', base, 'server-%x-%x' % (st.st_dev, st.st_ino))


def start_server(prefix, env, timeout=30):
    """Starts the prefix's persistent wineserver and waits until its socket
    exists, so that wineboot talks to it instead of racing it with a server
    of its own."""
    server = detached([WINESERVER, '-p'], env)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        sdir = server_dir(prefix)
        if sdir and os.path.exists(os.path.join(sdir, 'socket')):
            return server
        # The server forks itself into the background: its first process
        # ends with 0 as soon as the daemon runs, often before the socket
        # exists. Only a non-zero exit is a failure.
        if server.poll() is not None and server.returncode != 0:
            raise BenchError('wineserver -p ended with exit code %d' % server.returncode)
        time.sleep(0.02)
    raise BenchError('wineserver -p made no socket within %d s' % timeout)


# Wine's own modules in the Windows folder of a prefix: no test writes into
# them, and Wine reads them only (it checks them against its installation
# when a prefix is made or updated, and copies are never updated: they keep
# the template's stamp). A copy of the template links them instead of
# copying them: the template holds 1.3 GB of them, and copying that for every
# test was most of a test's set-up time and of the suite's disk traffic.
SHARED_MODULE = re.compile(
    r'drive_c/windows/.*\.(dll|exe|drv|sys|ocx|cpl|acm|ax|tlb|ds|mui|msstyles|vxd|com|16)$', re.I)


def copy_prefix(template, prefix):
    """A prefix of its own from the template: Wine's modules hard-linked,
    every other file (registry, INI files, user folders, ...) a real copy
    with its times, mode and extended attributes."""
    if subprocess.run(['cp', '-a', '--link', template, prefix]).returncode != 0:
        return False
    for dirpath, _, filenames in os.walk(prefix):
        for name in filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, prefix)
            if os.path.islink(path) or SHARED_MODULE.match(rel):
                continue
            tmp = path + '.qv-copy'
            shutil.copy2(os.path.join(template, rel), tmp)
            os.replace(tmp, path)
    return True


def remove_tree(path):
    if os.path.lexists(path):
        shutil.rmtree(path, ignore_errors=True)


# --- template -------------------------------------------------------------------

def wine_stamp():
    try:
        version = subprocess.run([WINE, '--version'], capture_output=True, text=True,
                                 timeout=30).stdout.strip()
    except (OSError, subprocess.TimeoutExpired) as e:
        raise BenchError('cannot run %s: %s' % (WINE, e))
    try:
        inf = '%d' % os.stat(WINE_INF).st_mtime
    except OSError:
        inf = 'no-wine.inf'
    # A template made before wine32 was installed has no 32-bit half.
    try:
        wine32 = 'wine32-%d' % os.stat(WINE32).st_mtime
    except OSError:
        wine32 = 'no-wine32'
    # Nor one made before fonts-wine (Marlett, the title-bar buttons) came,
    # or with another set of fonts in C:\windows\Fonts.
    try:
        fonts = 'fonts-%d+%s' % (os.stat(WINE_FONTS).st_mtime, ','.join(PREFIX_FONTS))
    except OSError:
        fonts = 'no-wine-fonts'
    return '%s %s %s %s\n' % (version, inf, wine32, fonts)


def install_fonts(prefix):
    """Copies PREFIX_FONTS into the prefix's C:\\windows\\Fonts (those that
    fonts-wine installed; a machine without it keeps Wine's fallback)."""
    fonts = os.path.join(prefix, 'drive_c', 'windows', 'Fonts')
    os.makedirs(fonts, exist_ok=True)
    for name in PREFIX_FONTS:
        source = os.path.join(WINE_FONTS, name)
        if os.path.isfile(source):
            shutil.copy2(source, os.path.join(fonts, name))


def template_valid(template, stamp):
    try:
        with open(os.path.join(template, STAMP)) as f:
            return f.read() == stamp and os.path.isfile(os.path.join(template, 'user.reg'))
    except OSError:
        return False


def make_template(root, force=False):
    """Makes the template prefix unless a valid one exists. Holds an exclusive
    lock while doing so; returns the template directory."""
    bench = os.path.join(root, 'winebench')
    os.makedirs(bench, exist_ok=True)
    template = os.path.join(bench, 'template')
    with open(os.path.join(bench, 'template.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = wine_stamp()
        if not force and template_valid(template, stamp):
            return template
        new = template + '.new'
        if os.path.isdir(new):
            kill_server(new)
        remove_tree(new)
        t0 = time.monotonic()
        env = base_env(new)
        rc = subprocess.run([WINE, 'wineboot', '-i'], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=240).returncode
        # Wait for the server to write the registry and exit.
        subprocess.run([WINESERVER, '-w'], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if rc != 0 or not os.path.isfile(os.path.join(new, 'user.reg')):
            raise BenchError('wineboot -i failed (exit code %d) for %s' % (rc, new))
        install_fonts(new)
        with open(os.path.join(new, STAMP), 'w') as f:
            f.write(stamp)
        if os.path.isdir(template):
            kill_server(template)
        remove_tree(template)
        os.rename(new, template)
        log('template prefix made in %.1f s: %s' % (time.monotonic() - t0, template))
        return template


# --- the reported Windows version ----------------------------------------------

def set_user_value(prefix, key, name, value, hive='user.reg'):
    """Sets (or, with value None, removes) a string value under HKCU\\key by
    editing user.reg (HKLM\\key with hive 'system.reg'); the server is not
    running yet and reads the file when it starts. key is written with single
    backslashes (Software\\Wine)."""
    path = os.path.join(prefix, hive)
    with open(path, encoding='latin-1', newline='') as f:
        lines = f.read().split('\n')
    regkey = key.replace('\\', '\\\\')
    header = '[' + regkey + ']'
    entry = '"%s"=' % name
    start = next((i for i, l in enumerate(lines)
                  if l == header or l.startswith(header + ' ')), None)
    if start is not None:
        end = start + 1
        while end < len(lines) and not lines[end].startswith('['):
            end += 1
        lines[start + 1:end] = [l for l in lines[start + 1:end] if not l.startswith(entry)]
    if value is not None:
        line = entry + '"%s"' % value
        if start is None:
            # A new key takes the modification time of the first key of the file.
            any_key = re.compile(r'^\[[^\]]*\] (\d+)')
            stamp = next((m.group(1) for m in map(any_key.match, lines) if m), '0')
            while lines and lines[-1] == '':
                lines.pop()
            lines += ['', header + ' ' + stamp, line, '']
        else:
            lines.insert(start + 1, line)
    with open(path, 'w', encoding='latin-1', newline='') as f:
        f.write('\n'.join(lines))


def set_windows_version(prefix, version):
    """HKCU\\Software\\Wine value Version: what GetVersionEx reports."""
    set_user_value(prefix, 'Software\\Wine', 'Version',
                   None if version == 'default' else version)


def add_drive(prefix, scratch, spec):
    """--drive LETTER:TYPE:DIR[:LABEL]: a drive letter linked in dosdevices
    before the server starts (Wine's mount manager reads drives, their types
    and volume labels only then). TYPE is a value of HKLM\\Software\\Wine\\Drives
    (hd, network, floppy, cdrom, ramdisk). A relative DIR is made under the
    scratch directory, with LABEL in its .windows-label; an absolute DIR is
    linked as it is, also when it does not exist (a drive that is not ready)."""
    parts = spec.split(':', 3)
    if len(parts) < 3 or not re.fullmatch(r'[a-zA-Z]', parts[0]) or not parts[2]:
        raise BenchError('--drive wants LETTER:TYPE:DIR[:LABEL], got ' + spec)
    letter, kind, target = parts[0].lower(), parts[1], parts[2]
    if not os.path.isabs(target):
        target = os.path.join(scratch, target)
        os.makedirs(target, exist_ok=True)
        if len(parts) == 4:
            with open(os.path.join(target, '.windows-label'), 'w') as f:
                f.write(parts[3] + '\n')
    link = os.path.join(prefix, 'dosdevices', letter + ':')
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(target, link)
    set_user_value(prefix, 'Software\\Wine\\Drives', letter + ':', kind, hive='system.reg')


# --- the X display --------------------------------------------------------------

def start_xvfb():
    """Starts Xvfb on a display number it picks itself (-displayfd: the server
    takes the first free number, using the /tmp/.X<N>-lock files, and writes it
    to the pipe once it accepts connections). Returns (process, ':N')."""
    r, w = os.pipe()
    try:
        proc = subprocess.Popen(
            ['Xvfb', '-displayfd', str(w), '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(w,), start_new_session=True)
    except OSError as e:
        os.close(r)
        os.close(w)
        raise BenchError('cannot start Xvfb: %s' % e)
    os.close(w)
    data = b''
    deadline = time.monotonic() + 30
    with os.fdopen(r, 'rb') as pipe:
        os.set_blocking(pipe.fileno(), False)
        while b'\n' not in data and time.monotonic() < deadline and proc.poll() is None:
            try:
                chunk = pipe.read()
            except BlockingIOError:
                chunk = None
            if chunk:
                data += chunk
            elif chunk == b'':
                break
            else:
                time.sleep(0.02)
    number = data.strip()
    if not number.isdigit():
        stop_process(proc)
        raise BenchError('Xvfb did not report a display number (exit code %s)' % proc.poll())
    return proc, ':' + number.decode()


def stop_process(proc, grace=5):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


# --- one test -------------------------------------------------------------------

def run_test(a):
    name = re.sub(r'[^A-Za-z0-9_.-]', '_', a.name)
    root = os.path.abspath(a.root)
    prefix = os.path.join(root, 'wineprefixes', name)
    scratch = os.path.join(root, 'winetmp', name)
    bindir = os.path.abspath(a.bindir) if a.bindir else os.path.join(root, 'bin')
    if a.only:
        log('%s runs for %s only: %s' % (name, a.arch, a.only))
    if a.arch == 'x86':
        status = x86_status(root)
        if status is not None and status != 'ok':
            log('%s not run: %s' % (name, status))
            return RC_SKIP
    times = []
    t = time.monotonic()

    def lap(what):
        nonlocal t
        now = time.monotonic()
        times.append('%s %.2f s' % (what, now - t))
        t = now

    # A prefix left by an earlier failed or killed run may still have a server.
    if os.path.isdir(prefix):
        kill_server(prefix)
    remove_tree(prefix)
    remove_tree(scratch)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    os.makedirs(scratch)

    template = make_template(root)
    with open(os.path.join(root, 'winebench', 'template.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_SH)
        copied = copy_prefix(template, prefix)
    if not copied:
        raise BenchError('cannot copy the template prefix to ' + prefix)
    set_windows_version(prefix, a.version)
    for spec in a.drive:
        add_drive(prefix, scratch, spec)
    if a.display:
        # Xvfb has no window manager. Wine's X11 driver waits up to 2 s for a
        # window manager to acknowledge every hidden window (a message box
        # closing, a program ending) unless its windows are unmanaged.
        set_user_value(prefix, 'Software\\Wine\\X11 Driver', 'Managed', 'N')
    lap('prefix')

    env = base_env(prefix)
    if a.no_services:
        # The prefix runs without its service control manager: services.exe
        # never starts (nor the services it would start), and OpenSCManager
        # fails with RPC_S_SERVER_UNAVAILABLE, as it fails for a user who may
        # not administer the machine.
        env['WINEDLLOVERRIDES'] += ';services.exe=d'
    xvfb = None
    server = None
    proc = None
    rc = RC_BENCH
    try:
        if a.display:
            xvfb, display = start_xvfb()
            env['DISPLAY'] = display
            lap('xvfb ' + display)
        server = start_server(prefix, env)
        boot_rc = detached([WINE, 'wineboot'], env).wait(120)
        if boot_rc != 0:
            # Seen once under load; the second try is the last one.
            log('wineboot failed with exit code %d; trying once more' % boot_rc)
            if server.poll() is not None:
                server = start_server(prefix, env)
            boot_rc = detached([WINE, 'wineboot'], env).wait(120)
            if boot_rc != 0:
                raise BenchError('wineboot failed with exit code %d' % boot_rc)
        # With DISPLAY set, wineboot also starts the desktop process
        # (explorer /desktop); being detached, it holds none of our pipes.
        lap('boot')

        env['QV_BUILD_DIR'] = bindir
        env['QV_BUILD_DIR_WIN'] = windows_path(bindir)
        env['QV_TEST_TMP'] = scratch
        env['QV_TEST_TMP_WIN'] = windows_path(scratch)
        for kv in a.env:
            k, sep, v = kv.partition('=')
            if not sep or not k:
                raise BenchError('--env wants K=V, got ' + kv)
            env[k] = v
        cmd = [WINE_FOR[a.arch], os.path.abspath(a.exe)] + a.args
        proc = subprocess.Popen(cmd, env=env, cwd=scratch, start_new_session=True)
        try:
            rc = proc.wait(a.timeout)
        except subprocess.TimeoutExpired:
            log('TIMEOUT: %s did not end within %d s; killing it' % (a.exe, a.timeout))
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
            rc = RC_TIMEOUT
        lap('test')
    except BenchError as e:
        log('bench failure: %s' % e)
        rc = RC_BENCH
    finally:
        if proc is not None and proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        kill_server(prefix)
        if server is not None:
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        stop_process(xvfb)
        sdir = server_dir(prefix)
        lap('teardown')
        if rc == 0 and not a.keep:
            remove_tree(prefix)
            remove_tree(scratch)
            if sdir:
                remove_tree(sdir)
        else:
            log('exit code %d; kept prefix %s and scratch %s' % (rc, prefix, scratch))
        log('%s [%s %s]: %s' % (name, a.arch, a.version, ', '.join(times)))
    return rc


# --- can this machine run the i686 build? ----------------------------------------

def x86_status(root):
    """'ok', the reason why the x86 tests are not run, or None when no probe
    has run."""
    try:
        with open(os.path.join(root, 'winebench', X86_STATUS)) as f:
            return f.read().strip()
    except OSError:
        return None


def probe_x86(root, probe):
    """Runs the i686 probe program once in a copy of the template prefix and
    records whether it ran. Says so in one line either way; a machine that
    cannot run it is not a failure (the x86 tests are then skipped)."""
    bench = os.path.join(root, 'winebench')
    os.makedirs(bench, exist_ok=True)
    reason = None
    if not os.path.isfile(probe):
        reason = ('there is no i686 build (%s is missing: cmake --preset win32 && '
                  'cmake --build --preset win32)' % probe)
    elif not os.access(WINE32, os.X_OK):
        reason = 'Wine cannot run 32-bit programs here (%s is missing: install wine32:i386)' % WINE32
    else:
        template = make_template(root)
        prefix = os.path.join(root, 'wineprefixes', 'winebench.arch.x86')
        if os.path.isdir(prefix):
            kill_server(prefix)
        remove_tree(prefix)
        os.makedirs(os.path.dirname(prefix), exist_ok=True)
        with open(os.path.join(bench, 'template.lock'), 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_SH)
            copy_prefix(template, prefix)
        env = base_env(prefix)
        try:
            r = subprocess.run([WINE32, probe], env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=90)
            out = (r.stdout + r.stderr).strip()
            if r.returncode != 0 or '32-bit' not in r.stdout:
                reason = ('this machine cannot run 32-bit Windows programs under Wine '
                          '(the i686 probe ended with code %d: %s)'
                          % (r.returncode, out.splitlines()[-1] if out else 'no output'))
        except subprocess.TimeoutExpired:
            reason = 'this machine cannot run 32-bit Windows programs under Wine (the probe hung)'
        finally:
            kill_server(prefix)
            remove_tree(prefix)
    with open(os.path.join(bench, X86_STATUS), 'w') as f:
        f.write((reason or 'ok') + '\n')
    if reason:
        print('winebench: the i686 (x86) tests are NOT RUN: ' + reason, flush=True)
    else:
        print('winebench: this machine runs the i686 build under Wine; the x86 tests run',
              flush=True)
    return 0


def on_signal(signum, _frame):
    raise Terminated('signal %d' % signum)


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--root', required=True, help='the build directory')
    p.add_argument('--make-template', action='store_true')
    p.add_argument('--probe-x86', action='store_true',
                   help='find out once whether the i686 build runs here (--exe: the probe)')
    p.add_argument('--arch', default='x64', choices=sorted(WINE_FOR))
    p.add_argument('--bindir', help="the build's bin directory (default ROOT/bin)")
    p.add_argument('--only', help='why this test runs for one build only')
    p.add_argument('--force', action='store_true', help='remake the template')
    p.add_argument('--name')
    p.add_argument('--exe')
    p.add_argument('--version', default='default', choices=VERSIONS)
    p.add_argument('--display', action='store_true')
    p.add_argument('--timeout', type=int, default=120)
    p.add_argument('--env', action='append', default=[])
    p.add_argument('--drive', action='append', default=[],
                   help='LETTER:TYPE:DIR[:LABEL], a drive of the prefix (see add_drive)')
    p.add_argument('--no-services', action='store_true',
                   help='boot and run without the service control manager')
    p.add_argument('--keep', action='store_true', help='keep the prefix after a pass')
    p.add_argument('args', nargs='*')
    a = p.parse_args()
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)
    try:
        if a.make_template:
            make_template(os.path.abspath(a.root), a.force)
            return 0
        if a.probe_x86:
            if not a.exe:
                p.error('--probe-x86 needs --exe')
            return probe_x86(os.path.abspath(a.root), a.exe)
        if not a.name or not a.exe:
            p.error('--name and --exe are required')
        if not os.path.isfile(a.exe):
            if a.arch == 'x86' and x86_status(os.path.abspath(a.root)) not in (None, 'ok'):
                return run_test(a)  # says why it is not run
            raise BenchError('no test program ' + a.exe)
        return run_test(a)
    except (BenchError, Terminated, subprocess.TimeoutExpired) as e:
        log('bench failure: %s' % e)
        return RC_BENCH


if __name__ == '__main__':
    sys.exit(main())
