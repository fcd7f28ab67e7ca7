#!/usr/bin/env python3
"""The folder graph of the product code must have no cycle.

Reads every `#include "..."` line of the product's sources (every top-level
folder but tests/, docs/, samples/, scripts/, cmake/ and build output; each
tools/ subfolder counts as a folder of its own), draws an arrow from the
including file's folder to the included file's folder, and fails when two
folders reach each other, directly or through others. Every cycle is
printed with the include lines that make its arrows.

    check_layering.py SOURCE_DIR     check the tree
    check_layering.py --graph DIR    print the arrows, one folder a line
    check_layering.py --self-test    prove on made-up trees that a cycle fails
"""
import os
import re
import sys
import tempfile

NOT_PRODUCT = {"tests", "docs", "samples", "scripts", "cmake", "build"}
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(rel_path):
    """The product folder of a file, or None outside the product."""
    parts = rel_path.split("/")
    if len(parts) == 1 or not is_product_folder(parts[0]):
        return None  # a file at the top, or tests, docs and the like
    if parts[0] == "tools" and len(parts) > 2:
        return "tools/" + parts[1]
    return parts[0]


def is_product_folder(top):
    return not (top.startswith(".") or top in NOT_PRODUCT or top.startswith("build"))


def product_files(root):
    for top in sorted(os.listdir(root)):
        path = os.path.join(root, top)
        if not is_product_folder(top) or not os.path.isdir(path):
            continue
        for dirpath, dirnames, filenames in os.walk(path):
            dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
            for name in sorted(filenames):
                if name.endswith(SOURCE_ENDINGS):
                    yield os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")


def include_edges(root):
    """{(from_folder, to_folder): [(file, included path), ...]} across folders."""
    edges = {}
    for rel in product_files(root):
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                # From the project root first, then beside the including file.
                if os.path.isfile(os.path.join(root, target)):
                    target_rel = os.path.normpath(target).replace(os.sep, "/")
                else:
                    beside = os.path.join(os.path.dirname(rel), target)
                    if not os.path.isfile(os.path.join(root, beside)):
                        continue  # a generated or system header
                    target_rel = os.path.normpath(beside).replace(os.sep, "/")
                a, b = folder_of(rel), folder_of(target_rel)
                if a and b and a != b:
                    edges.setdefault((a, b), []).append((rel, m.group(1)))
    return edges


def cycles(edges):
    """The shortest cycle through each arrow that lies on a cycle, each once."""
    succ = {}
    for a, b in edges:
        succ.setdefault(a, set()).add(b)

    def shortest_path(start, goal):
        prev, queue = {start: None}, [start]
        for node in queue:
            if node == goal:
                path = []
                while node is not None:
                    path.append(node)
                    node = prev[node]
                return path[::-1]
            for n in sorted(succ.get(node, ())):
                if n not in prev:
                    prev[n] = node
                    queue.append(n)
        return None

    found, seen = [], set()
    for a, b in sorted(edges):
        back = shortest_path(b, a)
        if back is None:
            continue
        cycle = [a] + back[:-1]
        i = cycle.index(min(cycle))
        key = tuple(cycle[i:] + cycle[:i])
        if key not in seen:
            seen.add(key)
            found.append(list(key))
    return found


def report(edges):
    found = cycles(edges)
    for cycle in found:
        print("cycle: " + " -> ".join(cycle + [cycle[0]]))
        for a, b in zip(cycle, cycle[1:] + cycle[:1]):
            for rel, target in edges[(a, b)]:
                print(f"  {a} -> {b}: {rel} includes \"{target}\"")
    return found


def check(root):
    edges = include_edges(root)
    folders = sorted({f for e in edges for f in e})
    found = report(edges)
    if found:
        print(f"FAIL: {len(found)} cycle(s) in the folder graph of {len(folders)} folders")
        return 1
    print(f"OK: {len(edges)} arrows between {len(folders)} folders, no cycle")
    return 0


def graph(root):
    edges = include_edges(root)
    for a in sorted({a for a, _ in edges}):
        print(a + " -> " + ", ".join(sorted(b for x, b in edges if x == a)))
    return 0


def self_test():
    def edges_of(files):
        with tempfile.TemporaryDirectory(prefix="qv-layering-") as root:
            for rel, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
                with open(os.path.join(root, rel), "w") as f:
                    f.write(text)
            return include_edges(root)

    # a -> b -> c -> a through three files; tests/ and a local include do not count.
    edges = edges_of({
        "a/one.h": '#include "b/two.h"\n',
        "b/two.h": '#include "c/three.h"\n',
        "c/three.h": "",
        "c/three.cpp": '#include "a/one.h"\n#include "local.h"\n',
        "c/local.h": "",
        "tests/t.cpp": '#include "a/one.h"\n',
        "a/uses_tests.cpp": '#include "tests/t.cpp"\n',
    })
    ok = cycles(edges) == [["a", "b", "c"]] and edges.get(("c", "a")) == [("c/three.cpp", "a/one.h")]
    # The same tree without the arrow back, and tools/ subfolders apart.
    edges = edges_of({
        "a/one.h": '#include "b/two.h"\n',
        "b/two.h": '#include "c/three.h"\n',
        "c/three.h": "",
        "tools/x/x.cpp": '#include "tools/y/y.h"\n',
        "tools/y/y.h": '#include "a/one.h"\n',
    })
    ok = ok and cycles(edges) == [] and ("tools/x", "tools/y") in edges
    print("self-test " + ("passed" if ok else "FAILED"))
    return 0 if ok else 1


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) == 3 and argv[1] == "--graph":
        return graph(argv[2])
    if len(argv) == 2:
        return check(argv[1])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
