#!/usr/bin/env python3
"""The core library's folders form a stack: each includes only the folders below it, but for
state/, which takes the records the hero and the catalogue are made of from character/. Prints
the folders' include graph (how many includes run from each folder to each other one) and fails
if any other include runs up the stack.

  include_stack.py SOURCE_DIR
"""
import pathlib
import re
import sys

# From the bottom up.
STACK = ['console', 'state', 'character', 'combat', 'tier', 'maze', 'game']
# The one include that may run up: the state is made of character/'s records.
ALLOWED_UP = {('state', 'character')}


def main():
    root = pathlib.Path(sys.argv[1])
    rank = {folder: i for i, folder in enumerate(STACK)}
    edges = {}
    up = []
    for folder in STACK:
        for source in sorted((root / folder).iterdir()):
            if source.suffix not in ('.cpp', '.h'):
                continue
            for line in source.read_text().splitlines():
                m = re.match(r'#include "([a-z_]+)/[^"]+"', line)
                if not m or m.group(1) == folder:
                    continue
                target = m.group(1)
                if target not in rank:
                    up.append(f'{folder}/{source.name} includes {m.group(0)[10:-1]}, outside the core')
                    continue
                edges[(folder, target)] = edges.get((folder, target), 0) + 1
                if rank[target] > rank[folder] and (folder, target) not in ALLOWED_UP:
                    up.append(f'{folder}/{source.name} includes {target}/, which stands above it')
    for (source, target), count in sorted(edges.items(), key=lambda e: (rank[e[0][0]], rank[e[0][1]])):
        arrow = 'up  ' if rank[target] > rank[source] else 'down'
        print(f'{arrow} {source:9} -> {target:9} {count}')
    for fault in up:
        print('FAULT:', fault)
    return 1 if up else 0


if __name__ == '__main__':
    sys.exit(main())
