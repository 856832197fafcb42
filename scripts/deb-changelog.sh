#!/usr/bin/env bash
# Prints debian/changelog for the project's version, the one number in CMakeLists.txt, so that the
# package and the program always agree. The date is the last commit's (reproducible builds).
# usage: deb-changelog.sh SOURCE_DIR
set -euo pipefail
src=$1
version=$(sed -n 's/^project(Tomeva VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
if [[ -z "$version" ]]; then
  echo "deb-changelog.sh: no project VERSION in $src/CMakeLists.txt" >&2
  exit 1
fi
maintainer=$(sed -n 's/^Maintainer: //p' "$src/debian/control")
date=$(git -C "$src" log -1 --format=%cD 2>/dev/null || date -R)
cat <<END
tomeva ($version) unstable; urgency=medium

  * Version $version, packaged from the project's build.

 -- $maintainer  $date
END
