#!/usr/bin/env python3
"""Runs two bench_env_test halves through winerun.py at the same time, each
with its own display and Windows version, and passes when both pass.

    concurrent_check.py --root BUILD --exe bench_env_test.exe
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--root', required=True)
    p.add_argument('--exe', required=True)
    a = p.parse_args()
    root = os.path.abspath(a.root)
    shared = os.path.join(root, 'winetmp', 'winebench.concurrent.shared')
    shutil.rmtree(shared, ignore_errors=True)
    os.makedirs(shared)
    shared_win = 'Z:' + shared.replace('/', '\\') + '\\'
    halves = {'a': ('nt40', '4.0.2', 'b'), 'b': ('win98', '4.10.1', 'a')}
    t0 = time.monotonic()
    procs = {}
    for self_, (version, expect, peer) in halves.items():
        cmd = [sys.executable, os.path.join(HERE, 'winerun.py'), '--root', root,
               '--name', 'winebench.concurrent.' + self_, '--exe', a.exe,
               '--version', version, '--display', '--timeout', '120',
               '--env', 'QV_PAIR_SELF=' + self_, '--env', 'QV_PAIR_PEER=' + peer,
               '--env', 'QV_PAIR_DIR_WIN=' + shared_win, '--env', 'QV_EXPECT_VERSION=' + expect]
        procs[self_] = subprocess.Popen(cmd)
    rcs = {k: p.wait() for k, p in procs.items()}
    print('concurrent_check: both halves ended in %.1f s, exit codes %s'
          % (time.monotonic() - t0, rcs), flush=True)
    if all(rc == 0 for rc in rcs.values()):
        shutil.rmtree(shared, ignore_errors=True)
        return 0
    return 1


if __name__ == '__main__':
    sys.exit(main())
