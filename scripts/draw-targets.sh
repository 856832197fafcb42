#!/usr/bin/env bash
# Turns the graph of `cmake --graphviz` into docs/targets.dot and docs/targets.svg: node names
# only (no generated ids), coloured by layer, left to right from the program down to base.
set -euo pipefail
in=$1
out=$2
python3 - "$in" "$out/targets.dot" <<'PY'
import re, sys
src, dst = sys.argv[1], sys.argv[2]
names, edges = {}, set()
for line in open(src, encoding="utf-8"):
    m = re.match(r'\s*"(node\d+)"\s*\[\s*label\s*=\s*"([^"]+)"', line)
    if m:
        names[m.group(1)] = m.group(2)
        continue
    m = re.match(r'\s*"(node\d+)"\s*->\s*"(node\d+)"', line)
    if m:
        edges.add((m.group(1), m.group(2)))
def layer(name):
    if name in ("tomeva", "tomeva_gui", "tomeva_gui_common", "tomeva-help", "tomeva-browser"):
        return "gui"
    if name in ("tomeva_platform", "tomeva_command_runner", "tomeva_wait_exports"): return "platform"
    if name.startswith("tomeva_kms"): return "kms"
    if name == "tomeva_engine_kms": return "adapter"
    if name == "tomeva_base": return "base"
    if name in ("tomeva-tool", "make-sample-library", "tomeva_text_copy", "tomeva_data_dirs"):
        return "tools"
    return "core"
colour = {"gui": "#f6d6ad", "platform": "#d5e8d4", "core": "#dae8fc", "kms": "#e1d5e7",
          "adapter": "#fff2cc", "tools": "#eeeeee", "base": "#f8cecc"}
out = ['digraph tomeva_targets {', '  rankdir=LR;', '  node [shape=box, style="rounded,filled", fontname="Helvetica"];']
for node in sorted(names.values()):
    out.append(f'  "{node}" [fillcolor="{colour[layer(node)]}"];')
for a, b in sorted((names[a], names[b]) for a, b in edges if a in names and b in names):
    out.append(f'  "{a}" -> "{b}";')
out.append('}')
open(dst, "w", encoding="utf-8").write("\n".join(out) + "\n")
PY
# The picture leaves out the links that follow from others (tred), so each layer's own are seen.
tred "$out/targets.dot" | dot -Tsvg -o "$out/targets.svg"
echo "wrote $out/targets.dot and $out/targets.svg"
