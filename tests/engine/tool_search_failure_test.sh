#!/bin/sh
# The tool's searches (kms-search and search) on an index that cannot be opened, missing or with
# its files turned to garbage, end with status 1 and name the index on standard error: a maintainer
# must never read such a search as one without hits.
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

# The layout of an index folder: a stub naming the generation, the generation's database files.
mkdir -p "$dir/Damaged/gen.1"
printf 'glass gen.1\n' > "$dir/Damaged/XAPIANDB"
for file in iamglass postlist.glass termlist.glass docdata.glass; do
  head -c 8192 /dev/zero | tr '\0' '\245' > "$dir/Damaged/gen.1/$file"
done

failures=0
for index in "$dir/Absent" "$dir/Damaged"; do
  for command in kms-search search; do
    "$tool" "$command" "$index" "明月" > "$dir/out" 2> "$dir/err"
    status=$?
    if [ "$status" -ne 1 ] || ! grep -qF "cannot search the index $index" "$dir/err"; then
      echo "FAIL: $command $index: status $status, stdout: $(cat "$dir/out"), stderr: $(cat "$dir/err")"
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ]
