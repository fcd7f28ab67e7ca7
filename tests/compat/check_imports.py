#!/usr/bin/env python3
"""Checks that programs import only what the target systems export.

For every program given, every imported DLL and function (by name or by
ordinal, delay-loaded ones too) is looked up in the export lists of each
system: exports/<system>/<DLL>.txt, one name a line, optionally followed by
"@ordinal"; "#" starts a comment. Every import a system lacks is printed as

    setup.exe: KERNEL32.dll!GetFileAttributesExA is not exported by win95 (Windows 95 RTM, 4.00.950)

and the exit code is 1. A DLL that has no list for a system fails the same
way: the loader of that system would have to find it first.

--only-dlls KERNEL32,USER32 is the stricter rule of the single-file setup's
loader, which runs from a download folder where anyone may have put a DLL:
any other DLL it imports fails, listed or not (CRTDLL.DLL, which every
system has and setup.exe imports, too).

usage: check_imports.py [--exports DIR] [--only-dlls A,B] PROGRAM...
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pefile  # noqa: E402

SYSTEMS = {
    "win95": "Windows 95 RTM, 4.00.950",
    "nt351": "Windows NT 3.51",
    "nt40": "Windows NT 4.0 RTM",
}


def read_list(path):
    """The names and ordinals of one export list."""
    names, ordinals = set(), set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) > 2 or (len(parts) == 2 and not parts[1].startswith("@")):
                raise ValueError("%s:%d: expected 'Name' or 'Name @ordinal', got %r" % (path, number, line))
            names.add(parts[0])
            if len(parts) == 2:
                ordinals.add(int(parts[1][1:]))
    return names, ordinals


def load_exports(root):
    """{system: {DLL name in upper case: (names, ordinals)}}"""
    exports = {}
    for system in SYSTEMS:
        folder = os.path.join(root, system)
        lists = {}
        for file in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            if file.endswith(".txt"):
                lists[file[:-4].upper() + ".DLL"] = read_list(os.path.join(folder, file))
        exports[system] = lists
    return exports


def check(program, exports, only_dlls=None):
    """The failure lines of one program; only_dlls: the DLLs it may import
    at all (upper case, with .DLL), or None for any with an export list."""
    image = pefile.PeImage(program)
    base = os.path.basename(program)
    failures = []
    unlisted = {}  # (dll, system) -> number of imports
    refused = {}  # dll -> number of imports outside only_dlls
    for imp in image.imports():
        dll = imp.dll.upper()
        if not dll.endswith(".DLL"):
            dll += ".DLL"
        if only_dlls is not None and dll not in only_dlls:
            refused[imp.dll] = refused.get(imp.dll, 0) + 1
        for system, title in SYSTEMS.items():
            where = "%s (%s)" % (system, title)
            if dll not in exports[system]:
                unlisted[(imp.dll, where)] = unlisted.get((imp.dll, where), 0) + 1
                continue
            names, ordinals = exports[system][dll]
            if imp.name is not None and imp.name not in names:
                failures.append("%s: %s is not exported by %s" % (base, imp, where))
            elif imp.name is None and imp.ordinal not in ordinals:
                failures.append("%s: %s: ordinal %d is not known to be exported by %s"
                                % (base, imp, imp.ordinal, where))
    for (dll, where), n in unlisted.items():
        failures.append("%s: %s (%d import%s) has no export list for %s: the DLL is not known there"
                        % (base, dll, n, "" if n == 1 else "s", where))
    for dll, n in refused.items():
        failures.append("%s: %s (%d import%s) is not one of %s, the only DLLs it may import"
                        % (base, dll, n, "" if n == 1 else "s", ", ".join(sorted(only_dlls))))
    return failures, len(image.imports())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exports", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "exports"))
    parser.add_argument("--only-dlls", help="comma-separated: the only DLLs the programs may import")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    exports = load_exports(args.exports)
    only = None
    if args.only_dlls:
        only = {d.strip().upper() + ("" if d.strip().upper().endswith(".DLL") else ".DLL")
                for d in args.only_dlls.split(",")}
    all_failures = []
    for program in args.programs:
        try:
            failures, count = check(program, exports, only)
        except (OSError, pefile.PeError) as e:
            print("%s: cannot read the import table: %s" % (program, e))
            return 1
        print("%s: %d imports checked against %s" % (os.path.basename(program), count, ", ".join(SYSTEMS)))
        all_failures += failures
    for line in all_failures:
        print(line)
    print("%d problem%s found" % (len(all_failures), "" if len(all_failures) == 1 else "s"))
    return 1 if all_failures else 0


if __name__ == "__main__":
    sys.exit(main())
