#!/usr/bin/env bash
# Runs every benchmark program of a bench build; each prints its ratios against its peer.
set -euo pipefail
build=$1
shopt -s nullglob
for b in "$build"/bench/bench_*; do
  [[ -x "$b" && -f "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b"
done
