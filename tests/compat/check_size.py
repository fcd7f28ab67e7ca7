#!/usr/bin/env python3
"""Checks the shipped programs' sizes against their goals.

Prints every program's size in bytes against its goal; a program above its
goal, or one that is missing, makes the exit code 1.

usage: check_size.py PROGRAM=GOAL...
"""

import os
import sys


def main(args):
    if not args:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    failed = False
    for arg in args:
        path, _, goal = arg.rpartition("=")
        name = os.path.basename(path)
        try:
            size = os.path.getsize(path)
        except OSError as e:
            print("%s: cannot be read (%s)" % (name, e.strerror))
            failed = True
            continue
        over = size > int(goal)
        print("%s: %d bytes, goal %d bytes%s" % (name, size, int(goal),
                                                   " (over by %d)" % (size - int(goal)) if over else ""))
        failed |= over
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
