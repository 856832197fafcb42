#!/usr/bin/env python3
"""Holds every source file under src/ to the dependencies its build target states.

Usage: check-includes.py <project folder> <include_rules.txt>

include_rules.txt is written by the configuration (cmake/TomevaTargets.cmake): for each target of
ours, the paths it owns and the targets it links directly. A file belongs to the target owning the
longest path that contains it; each of its #include "..." lines that names a file of the project
must belong to the same target or to one the target links. The targets must also form a graph
without cycles. Prints every breach and exits 1 when there is one.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_rules(path):
    owners = {}  # owned path -> target
    deps = {}
    with open(path, encoding="utf-8") as rules:
        for line in rules:
            line = line.strip()
            if not line:
                continue
            target, paths, linked = line.split(" ")
            deps[target] = set(filter(None, linked[len("deps="):].split(";")))
            for owned in filter(None, paths[len("paths="):].split(";")):
                owners[owned.rstrip("/")] = target
    return owners, deps


def owner_of(relative, owners):
    best = None
    for owned, target in owners.items():
        if relative == owned or relative.startswith(owned + "/"):
            if best is None or len(owned) > len(best[0]):
                best = (owned, target)
    return best[1] if best else None


def find_cycle(deps):
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in sorted(deps.get(node, ())):
            if state.get(nxt) == "open":
                return trail + [node, nxt]
            if nxt not in state:
                found = visit(nxt, trail + [node])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(deps):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


def main():
    root, rules_path = sys.argv[1], sys.argv[2]
    owners, deps = read_rules(rules_path)
    breaches = []
    cycle = find_cycle(deps)
    if cycle:
        breaches.append("target cycle: " + " -> ".join(cycle))
    checked = 0
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in sorted(files):
            if not name.endswith((".cc", ".h")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root)
            target = owner_of(relative, owners)
            if target is None:
                continue  # a layer this configuration does not build
            checked += 1
            with open(path, encoding="utf-8", errors="replace") as source:
                text = source.read()
            for included in INCLUDE.findall(text):
                included_path = os.path.join("src", included)
                if not os.path.exists(os.path.join(root, included_path)):
                    continue
                other = owner_of(included_path, owners)
                if other is None or other == target or other in deps.get(target, ()):
                    continue
                breaches.append(f"{relative}: includes {included} of {other}, "
                                f"which {target} does not link")
    for breach in breaches:
        print(breach)
    print(f"files checked: {checked}, breaches: {len(breaches)}")
    return 1 if breaches or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
