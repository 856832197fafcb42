#!/bin/sh
# `tomeva-tool reindex` on an index that is missing or damaged ends with status 1, names the index
# on standard error and leaves a damaged index's stub and database files as they were.
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

mkdir -p "$dir/Damaged/gen.1"
printf 'glass gen.1\n' > "$dir/Damaged/XAPIANDB"
for file in iamglass postlist.glass termlist.glass docdata.glass; do
  head -c 8192 /dev/zero | tr '\0' '\245' > "$dir/Damaged/gen.1/$file"
done
sums() { cat "$dir/Damaged/XAPIANDB" "$dir"/Damaged/gen.1/*.glass "$dir/Damaged/gen.1/iamglass" | md5sum; }
before=$(sums)

failures=0
for index in "$dir/Absent" "$dir/Damaged"; do
  "$tool" reindex "$index" > "$dir/out" 2> "$dir/err"
  status=$?
  if [ "$status" -ne 1 ] || ! grep -qF "cannot reindex $index" "$dir/err" || [ -s "$dir/out" ]; then
    echo "FAIL: reindex $index: status $status, stdout: $(cat "$dir/out"), stderr: $(cat "$dir/err")"
    failures=$((failures + 1))
  fi
done
[ -e "$dir/Absent" ] && { echo "FAIL: reindex created $dir/Absent"; failures=$((failures + 1)); }
[ "$(sums)" = "$before" ] && [ "$(ls "$dir/Damaged" | tr '\n' ' ')" = "XAPIANDB gen.1 " ] || {
  echo "FAIL: reindex changed the damaged index's files"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
