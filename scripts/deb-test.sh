#!/usr/bin/env bash
# The package as a user meets it: installed on this machine, a library of one's own made with the
# installed `tomeva-tool init`, the sample's books imported into it, the program started from the
# menu entry's Exec line under Xvfb (from the home folder, so that it must find the library by
# itself), a word found and a PDF's marks placed, the package installed again over itself (an
# upgrade) and purged, with the library intact after both.
# usage: deb-test.sh OUT_DIR [BUILD_DIR]
#
# Installing needs root (CI runs as root). A machine that already has the package installed is
# left alone. On the way out the package is purged whatever happened, leaving the machine as before.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "$1" && pwd)
build=${2:-$here/build}
version=$(sed -n 's/^project(Tomeva VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
deb="$out/tomeva_${version}_$(dpkg --print-architecture).deb"
maker="$build/tools/make-sample-library/make-sample-library"
started=$(date +%s)

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -f "$deb" ]] || fail "no package $deb (make deb first)"
[[ -x "$maker" ]] || fail "no sample maker $maker (make build first)"
[[ $(id -u) -eq 0 ]] || fail "installing the package needs root; run as root (as CI does)"
if dpkg-query -W -f='${Status}' tomeva 2>/dev/null | grep -q 'ok installed'; then
  fail "tomeva is already installed on this machine; the test leaves that installation alone"
fi

work=$(mktemp -d /tmp/tomeva-deb-test.XXXXXX)
installed=0
cleanup() {
  local status=$?
  if ((installed)); then dpkg --purge tomeva >/dev/null 2>&1 || true; fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

# A user of our own: home, data, settings and runtime folders in the scratch folder.
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
unset TOMEVA_DATA_DIR TOMEVA_REGISTRY_DIR TOMEVA_RUNTIME_DIR
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
library="$XDG_DATA_HOME/tomeva"

echo "== install $(basename "$deb")"
dpkg -i "$deb" || fail "the package does not install (a dependency missing?)"
installed=1
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in /usr/bin/tomeva /usr/bin/tomeva-tool /usr/bin/tomeva-help /usr/bin/tomeva-browser \
         "/usr/lib/$triplet/tomeva/libtomevakms.so" /usr/share/tomeva/viewer/viewer.html \
         /usr/share/tomeva/viewer/plug_ins/VazeZududi.api /usr/share/tomeva/help/Tomeva.htm \
         /usr/share/icons/hicolor/scalable/apps/tomeva.svg; do
  [[ -f "$f" ]] || fail "the package lacks $f"
done
# (The list is read whole first: grep -q would end the pipe early and fail it.)
libraries=$(ldd /usr/bin/tomeva)
grep -q "/usr/lib/$triplet/tomeva/libtomevakms.so" <<<"$libraries" ||
  fail "tomeva does not load the engine from /usr/lib/$triplet/tomeva"
[[ $(dpkg-query -W -f='${Version}' tomeva) == "$version" ]] || fail "package version is not $version"
ls /usr/share/javascript/pdf/build/pdf.js >/dev/null || fail "pdf.js (libjs-pdf) is not there"

echo "== a library of one's own, with the sample's books"
tomeva-tool init "$library" || fail "tomeva-tool init"
"$maker" "$work/sample" >/dev/null 2>&1 || fail "the sample could not be made"
cp -r "$work/sample/Update/." "$library/Update/"
tomeva-tool import "$library" >"$work/import.json" 2>"$work/import.err" ||
  fail "import: $(cat "$work/import.json" "$work/import.err")"
grep -q '"imported":2' "$work/import.json" || fail "import: $(cat "$work/import.json")"

echo "== the program from its menu entry"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.tomeva.tomeva.desktop)
# Field codes (%f, %U ...) stand for files the menu passes: none here.
read -r -a command <<<"${exec_line//%[a-zA-Z]/}"
cd "$HOME"
# It must find the library by itself; if it asked, it would end instead of waiting for a click.
TOMEVA_NO_LIBRARY_CHOICE=quit TOMEVA_SCREENSHOT="$work/window.png" \
  QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}" \
  timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" "${command[@]}" >"$work/run.out" 2>&1 ||
  fail "the program did not start on the library: $(tail -5 "$work/run.out")"
grep -q "^screenshot: " "$work/run.out" && [[ -s "$work/window.png" ]] ||
  fail "no window shown: $(tail -5 "$work/run.out")"
cp "$work/window.png" "$out/deb-test-window.png"
echo "the window: $out/deb-test-window.png"
grep -q "acrord32.exe.*=sz:/usr/share/tomeva/viewer/viewer.html" \
  "$XDG_CONFIG_HOME/Tomeva/registry/HKLM.ini" || fail "the viewer page is not registered"

echo "== a word found, a PDF's marks placed"
tomeva-tool search "$library/SearchDB" 君子 --mode 2 >"$work/search.json"
grep -q '"total":[1-9]' "$work/search.json" || fail "search: $(head -c 300 "$work/search.json")"
tomeva-tool catalogue "$library" >"$work/books.json"
grep -q '诗经·国风' "$work/books.json" && grep -q '诗经·雅颂' "$work/books.json" ||
  fail "catalogue: $(head -c 300 "$work/books.json")"
tomeva-tool pdf-highlight "$library/3/pdf/sec_01.pdf" 君子 >"$work/marks.json"
grep -q '"matches":[1-9]' "$work/marks.json" || fail "PDF marks: $(cat "$work/marks.json")"
[[ -s "$library/3/pdf/sec_01.idx" ]] || fail "no position file beside the PDF"

# The library as it stands, to compare after the upgrade and the removal.
snapshot() { (cd "$library" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
snapshot >"$work/before"

echo "== upgrade (the package over itself) and purge"
dpkg -i "$deb" >/dev/null || fail "installing over the installed package"
snapshot | cmp -s - "$work/before" || fail "the upgrade changed the library"
dpkg --purge tomeva >/dev/null || fail "purge"
installed=0
for f in /usr/bin/tomeva /usr/bin/tomeva-tool /usr/share/tomeva "/usr/lib/$triplet/tomeva" \
         /usr/share/applications/org.tomeva.tomeva.desktop; do
  [[ ! -e "$f" ]] || fail "$f is left after the purge"
done
snapshot | cmp -s - "$work/before" || fail "the purge changed the library"

echo "deb-test passed in $(($(date +%s) - started)) s"
