#!/bin/sh
# `tomeva-tool index` says why a build failed: the definitions, the field the engine refused, or
# the index that cannot be written (with the engine's reason), each with status 1; a good build
# prints its summary.
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

field() { printf '<Field Name="%s" Desc="x" Is4Search="TRUE" Column="%s"%s/>' "$1" "$2" "$3"; }
defs() {
  printf '<?xml version="1.0" encoding="GB2312"?>\n<Library><Book Dir="50" name="b" BookNO="x" ver="2.0">%s</Book></Library>\n' "$1"
}
defs "$(field FdName title ' ColTag="title"')$(field FdContent '' ' ColTag=""')" > "$dir/good.xml"
defs "$(field FdName title '')$(field FdContent '' '')" > "$dir/no-tags.xml"
mkdir -p "$dir/rec" "$dir/Damaged/gen.1"
printf '<?xml version="1.0" encoding="GB2312"?>\n<Record><FdName>moon</FdName><FdContent>bright moon</FdContent></Record>\n' > "$dir/rec/book_1.xml"
printf 'glass gen.1\n' > "$dir/Damaged/XAPIANDB"
head -c 8192 /dev/zero | tr '\0' '\245' > "$dir/Damaged/gen.1/iamglass"

failures=0
# defs index status what-stderr-holds
check() {
  "$tool" index "$dir/$1" "$dir/rec" "$dir/$2" > "$dir/out" 2> "$dir/err"
  status=$?
  if [ "$status" -ne "$3" ] || ! grep -qF "$4" "$dir/err" "$dir/out"; then
    echo "FAIL: index $1 into $2: status $status, stdout: $(cat "$dir/out"), stderr: $(cat "$dir/err")"
    failures=$((failures + 1))
  fi
}
check good.xml New 0 '"records":1'
check absent.xml Other 1 "cannot load field definitions from $dir/absent.xml"
check no-tags.xml Other2 1 "was refused"
check good.xml Damaged 1 "cannot write the index $dir/Damaged"
grep -qF "field definitions" "$dir/err" && { echo "FAIL: a damaged index blamed on the definitions"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
