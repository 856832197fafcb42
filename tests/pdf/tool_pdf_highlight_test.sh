#!/bin/sh
# The tool's pdf-highlight on a PDF's text copy: the values the viewer would get, and a PDF
# without a text copy ending with status 1, never read as a PDF without matches.
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

# "中国ab中国" in GBK; the PDF itself is not read. The three matches touch and merge into one:
# twelve values in the position file, of which the first ten are sent.
printf '\326\320\271\372ab\326\320\271\372' > "$dir/book.txt"
failures=0
out=$("$tool" pdf-highlight "$dir/book.pdf" "中国 ab")
expected='{"matches":1,"count":10,"values":[0,2,2,2,4,1,5,1,6,2]}'
if [ "$out" != "$expected" ]; then
  echo "FAIL: got $out, expected $expected"
  failures=$((failures + 1))
fi
size=$(wc -c < "$dir/book.idx" 2>/dev/null)
if [ "$size" != 48 ]; then
  echo "FAIL: position file of ${size:-no} bytes, expected 48"
  failures=$((failures + 1))
fi
"$tool" pdf-highlight "$dir/none.pdf" "中国" > "$dir/out" 2> "$dir/err"
status=$?
if [ "$status" -ne 1 ] || ! grep -qF "$dir/none.txt" "$dir/err"; then
  echo "FAIL: missing text copy: status $status, stdout: $(cat "$dir/out"), stderr: $(cat "$dir/err")"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
