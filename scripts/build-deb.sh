#!/usr/bin/env bash
# Builds the Debian package of the program with the Debian tools and checks it.
# usage: build-deb.sh OUT_DIR
#
# The sources (what git tracks or would track) are copied into OUT_DIR/tomeva-VERSION, where
# debian/changelog is written from the version in CMakeLists.txt and dpkg-buildpackage builds;
# the .deb lands in OUT_DIR. The copy's build folder is kept between runs, so that a second build
# only compiles what changed. Then lintian (no errors allowed), desktop-file-validate and
# appstreamcli validate check the package, and its contents and size are printed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
version=$(sed -n 's/^project(Tomeva VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
arch=$(dpkg --print-architecture)
src="$out/tomeva-$version"
started=$(date +%s)

mkdir -p "$src"
find "$src" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
(cd "$here" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$src"
"$here/scripts/deb-changelog.sh" "$here" > "$src/debian/changelog"
rm -f "$out"/tomeva_*.deb "$out"/tomeva-dbgsym_*.deb "$out"/tomeva_*.changes "$out"/tomeva_*.buildinfo

# The shared compiler cache, when the machine has one (CMake reads the launcher from here).
if command -v ccache >/dev/null && [[ -d /work/.ccache ]]; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
fi
jobs=${DEB_JOBS:-2}
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -us -uc -b -nc)

deb="$out/tomeva_${version}_${arch}.deb"
[[ -f "$deb" ]] || { echo "build-deb.sh: no package $deb" >&2; exit 1; }

echo "== lintian"
# Errors fail the build; warnings and notes are shown.
lintian --fail-on error --no-tag-display-limit "$out/tomeva_${version}_${arch}.changes"

echo "== menu entry and metadata"
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check"
desktop-file-validate "$check"/usr/share/applications/*.desktop
appstreamcli validate --no-net --pedantic "$check"/usr/share/metainfo/*.metainfo.xml

echo "== contents of $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $3, $6}' | grep -v '/$'
echo "package: $(du -k "$deb" | cut -f1) KiB, installed: $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "built in $(( $(date +%s) - started )) s"
