#!/usr/bin/env bash
# Checks that the product's folders depend on each other in one direction (docs/dev/layers.md).
# The folder dependencies are read from the #include "..." lines of every .h, .cpp and .h.in file;
# an include is resolved as the compiler does: beside the including file, from the root, from the
# COM layer's folder, from the data-type server's folder. Fails, naming the file, on
#   - an include of a folder of the same or a higher layer (other than the file's own folder),
#   - a cycle between folders (reported on its own, whatever the layers say),
#   - a folder with sources that is in no layer.
#   check-layers.sh [source root]       prints the folder graph and "layers: ok" or the faults
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
exec python3 - "$root" <<'EOF'
import os, re, sys

root = sys.argv[1]
# Layer of each product folder: a file may include its own folder and folders of lower layers.
LAYERS = {
    'resources': 0, 'base/com': 0,
    'base': 1,
    'dom': 2, 'secure': 2, 'logon': 2, 'components': 2,
    'config': 3,
    'paramlist': 4,
    'documents': 5,
    'server': 6, 'datatypes': 6,
}
# Folders that are not product code.
OTHERS = {'tests', 'bench', 'tool', 'samples', 'docs', 'cmake', 'scripts', '.ci', '.git'}
SEARCH = ['', 'base/com', 'datatypes']
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

def folder_of(path):
    best = None
    for folder in LAYERS:
        if path.startswith(folder + '/') and (best is None or len(folder) > len(best)):
            best = folder
    return best

faults = []
edges = {}
for top in sorted(os.listdir(root)):
    if top in OTHERS or top.startswith('build') or not os.path.isdir(os.path.join(root, top)):
        continue
    for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
        dirnames.sort()
        for name in sorted(filenames):
            if not name.endswith(('.h', '.cpp', '.h.in')):
                continue
            path = os.path.relpath(os.path.join(dirpath, name), root)
            own = folder_of(path)
            if own is None:
                faults.append(f'{path}: its folder is in no layer')
                continue
            for number, line in enumerate(open(os.path.join(root, path), encoding='utf-8', errors='replace'), 1):
                match = include.match(line)
                if not match:
                    continue
                target = None
                for base in [os.path.dirname(path)] + SEARCH:
                    candidate = os.path.normpath(os.path.join(base, match.group(1)))
                    if os.path.isfile(os.path.join(root, candidate)):
                        target = candidate
                        break
                other = folder_of(target) if target else None
                if other is None or other == own:
                    continue  # generated, system or same-folder header
                edges.setdefault(own, {}).setdefault(other, []).append(f'{path}:{number}')
                if LAYERS[other] >= LAYERS[own]:
                    faults.append(f'{path}:{number}: {own} (layer {LAYERS[own]}) includes {target} '
                                  f'({other}, layer {LAYERS[other]})')

# Cycles between folders, by depth-first search.
state, stack = {}, []
def visit(folder):
    state[folder] = 'open'
    stack.append(folder)
    for other in sorted(edges.get(folder, {})):
        if state.get(other) == 'open':
            cycle = stack[stack.index(other):] + [other]
            faults.append('cycle: ' + ' -> '.join(cycle) + ' (first at ' + edges[folder][other][0] + ')')
        elif other not in state:
            visit(other)
    stack.pop()
    state[folder] = 'done'
for folder in sorted(edges):
    if folder not in state:
        visit(folder)

for folder in sorted(LAYERS, key=lambda f: (LAYERS[f], f)):
    below = ', '.join(sorted(edges.get(folder, {})))
    print(f'{LAYERS[folder]} {folder:<11} -> {below or "-"}')
for fault in faults:
    print('layers: ' + fault)
print(f'layers: {len(faults)} faults' if faults else 'layers: ok')
sys.exit(1 if faults else 0)
EOF
