#!/usr/bin/env bash
# Which library the program opens when started outside one, and what it does when there is none.
# Each case starts the program in an empty home folder; TOMEVA_REPORT_SHOWN names a file relative
# to the working directory, so the shown window's report lands in the library the program entered
# (and the program ends there). TOMEVA_NO_LIBRARY_CHOICE answers the question the program would
# ask: "quit" or "create".
# usage: no_library_startup_test.sh TOMEVA TOMEVA_TOOL
set -u
app=$1
tool=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# Never the user's own registry: `init` registers the viewer there.
export TOMEVA_REGISTRY_DIR="$dir/reg-tool"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$tool" init "$dir/shared" >/dev/null 2>&1 && "$tool" init "$dir/given" >/dev/null 2>&1 ||
  { echo "FAIL: tomeva-tool init"; exit 1; }
echo "$dir/shared" > "$dir/etc-library"
echo "$dir/missing" > "$dir/etc-missing"

# run NAME CHOICE ETC_FILE [ARG]: starts the program in a fresh home of its own.
run() {
  local name=$1 choice=$2 etc=$3
  shift 3
  home="$dir/$name"
  mkdir -p "$home/cwd" "$home/run"
  chmod 700 "$home/run"
  (cd "$home/cwd" && env XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" \
     TOMEVA_REGISTRY_DIR="$home/reg" TOMEVA_RUNTIME_DIR="$home/run" \
     TOMEVA_SYSTEM_LIBRARY_FILE="$etc" TOMEVA_NO_LIBRARY_CHOICE="$choice" \
     TOMEVA_REPORT_SHOWN=shown.txt timeout 120 "$app" "$@" >"$home/out" 2>&1)
  status=$?
}
shown_in() { [[ -s "$1/shown.txt" ]]; }

# Nothing anywhere, the user quits: no window, nothing made.
run none quit "$dir/absent"
[[ $status -eq 1 ]] || fail "none: status $status"
[[ ! -e "$home/data/tomeva" ]] || fail "none: a library was made although the user quit"

# Nothing anywhere, the user creates one: the user's own library, opened, the viewer registered.
run create create "$dir/absent"
[[ $status -eq 0 ]] || fail "create: status $status: $(tail -3 "$home/out")"
shown_in "$home/data/tomeva" || fail "create: the new library was not opened"
grep -q "acrord32.exe.*viewer/viewer.html" "$home/reg/HKLM.ini" 2>/dev/null ||
  fail "create: the viewer is not registered"

# The shared library of /etc/tomeva/library; the user has none of their own.
run shared quit "$dir/etc-library"
[[ $status -eq 0 ]] || fail "shared: status $status: $(tail -3 "$home/out")"
shown_in "$dir/shared" || fail "shared: the shared library was not opened"
rm -f "$dir/shared/shown.txt"
# A user who has not run init gets the viewer registered all the same.
grep -q "acrord32.exe.*viewer/viewer.html" "$home/reg/HKLM.ini" 2>/dev/null ||
  fail "shared: the viewer is not registered for this user"

# A shared library named but missing: the user is told, and asked (here: quits).
run shared-missing quit "$dir/etc-missing"
[[ $status -eq 1 ]] || fail "shared-missing: status $status"
grep -q "$dir/missing" "$home/out" || fail "shared-missing: the user was not told: $(cat "$home/out")"

# The user's own library comes before being asked.
run own quit "$dir/absent"
"$tool" init "$home/data/tomeva" >/dev/null 2>&1
run own quit "$dir/absent"
[[ $status -eq 0 ]] && shown_in "$home/data/tomeva" || fail "own: status $status, not opened"

# A library on the command line wins over the shared one.
run given quit "$dir/etc-library" "$dir/given"
[[ $status -eq 0 ]] && shown_in "$dir/given" || fail "given: status $status, not opened"
[[ ! -e "$dir/shared/shown.txt" ]] || fail "given: the shared library was opened instead"

# A folder on the command line that is not a library: told, then asked.
run not-a-library quit "$dir/etc-library" "$dir/absent-folder"
[[ $status -eq 1 ]] || fail "not-a-library: status $status"
grep -q "absent-folder" "$home/out" || fail "not-a-library: the user was not told"

# Started in a library (as always): that one, whatever else is named.
home="$dir/incwd"
mkdir -p "$home/run" && chmod 700 "$home/run"
"$tool" init "$dir/incwd/lib" >/dev/null 2>&1
(cd "$dir/incwd/lib" && env XDG_DATA_HOME="$dir/incwd/data" XDG_RUNTIME_DIR="$home/run" \
   TOMEVA_REGISTRY_DIR="$home/reg" TOMEVA_RUNTIME_DIR="$home/run" \
   TOMEVA_SYSTEM_LIBRARY_FILE="$dir/etc-library" TOMEVA_NO_LIBRARY_CHOICE=quit \
   TOMEVA_REPORT_SHOWN=shown.txt timeout 120 "$app" >"$home/out" 2>&1)
shown_in "$dir/incwd/lib" || fail "incwd: the working directory's library was not opened"
[[ ! -e "$dir/shared/shown.txt" ]] || fail "incwd: the shared library was opened instead"

[[ $failures -eq 0 ]] && echo "all cases passed"
[[ $failures -eq 0 ]]
