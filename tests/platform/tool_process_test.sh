#!/bin/sh
# The tool's wait and wait-result: what the calls return and how long they took, and status 1
# (never 0) when the program could not be started or its output could not be stored.
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A one-second limit on a program of two seconds: back after one, the program still running.
out=$("$tool" wait "sh -c 'sleep 2; touch $dir/late'" 0 1)
case "$out" in
  '{"result":1,"seconds":1.0'*|'{"result":1,"seconds":1.1'*) ;;
  *) fail "wait with a time-out: $out" ;;
esac
[ -e "$dir/late" ] && fail "the wait outlasted its limit"
out=$("$tool" wait "sh -c 'sleep 0.3'" 1 4294967295)
case "$out" in
  '{"result":1,"seconds":0.3'*|'{"result":1,"seconds":0.4'*) ;;
  *) fail "wait without limit: $out" ;;
esac

out=$("$tool" wait-result "sh -c 'echo out; echo err >&2'" "$dir/result.txt")
case "$out" in
  '{"result":1,"seconds":0.'*',"started":true,"output_complete":true,"bytes":8}') ;;
  *) fail "wait-result: $out" ;;
esac
[ "$(cat "$dir/result.txt")" = "$(printf 'out\nerr')" ] || fail "stored: $(cat "$dir/result.txt")"

"$tool" wait-result "sh -c 'echo lost'" "$dir/missing/result.txt" > "$dir/out" 2> "$dir/err"
status=$?
{ [ "$status" -eq 1 ] && grep -q '"output_complete":false,"bytes":5' "$dir/out" &&
  grep -qF "$dir/missing/result.txt" "$dir/err"; } ||
  fail "unwritable output: status $status, $(cat "$dir/out") $(cat "$dir/err")"
"$tool" wait-result "tomeva-no-such-program" "$dir/none.txt" > "$dir/out" 2> /dev/null
status=$?
{ [ "$status" -eq 1 ] && grep -q '"started":false' "$dir/out" && [ -f "$dir/none.txt" ]; } ||
  fail "missing program: status $status, $(cat "$dir/out")"
[ "$failures" -eq 0 ]
