#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time; fails on the first finding.
set -euo pipefail
build=$1
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets built" >&2
  exit 1
fi
for t in "${targets[@]}"; do
  [[ -x "$t" && -f "$t" ]] || continue
  name=$(basename "$t")
  corpus="$build/fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "$root/fuzz/seeds/$name" ]] && seeds=("$root/fuzz/seeds/$name")
  echo "== $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
  test "${PIPESTATUS[0]}" -eq 0
done
