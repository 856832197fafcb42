#!/usr/bin/env bash
# Builds the sample library (once) and starts the program's main job on it.
# usage: run-sample.sh BUILD_DIR SAMPLE_DIR [--prepare-only]
set -euo pipefail
build=$1
sample=$2
prepare_only=${3:-}
tool="$build/tools/tomeva-tool/tomeva-tool"
maker="$build/tools/make-sample-library/make-sample-library"

if [[ ! -f "$sample/System.xml" ]]; then
  if [[ ! -x "$maker" ]]; then
    echo "make-sample-library was not built" >&2
    exit 1
  fi
  rm -rf "$sample.tmp"
  "$maker" "$sample.tmp"
  rm -rf "$sample"
  mv "$sample.tmp" "$sample"
fi
[[ "$prepare_only" == "--prepare-only" ]] && exit 0

app="$build/src/gui/app/tomeva"
if [[ -x "$app" ]]; then
  cd "$sample"
  exec "$OLDPWD/$app"
fi

# Until the desktop program exists, the main job is a search of the sample library from the
# terminal: the words are looked up in the index and the first page of hits is printed.
query=${TOMEVA_QUERY:-明月}
echo "Searching the sample library for: $query"
"$tool" search "$sample/SearchDB" "$query" --mode 2
