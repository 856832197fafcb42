#!/usr/bin/env bash
# Builds the sample library (once) and starts the program's main job on it.
# usage: run-sample.sh BUILD_DIR SAMPLE_DIR [--prepare-only]
set -euo pipefail
build=$1
sample=$2
prepare_only=${3:-}
tool="$build/tools/tomeva-tool/tomeva-tool"
# The sample's update key is the sample publisher's, made afresh with each sample: it goes into a
# configuration folder of the build's, never over the key of the user's own installation.
if [[ -z "${TOMEVA_USER_CONFIG_DIR:-}" ]]; then
  mkdir -p "$build/sample-config"
  TOMEVA_USER_CONFIG_DIR=$(cd "$build/sample-config" && pwd)
  export TOMEVA_USER_CONFIG_DIR
fi
maker="$build/tools/make-sample-library/make-sample-library"

# A sample made by an older maker lacks what the program now expects of an installation (the
# guide in help/, the publisher's page): it is made again.
if [[ ! -f "$sample/System.xml" || ( -x "$maker" && "$maker" -nt "$sample/System.xml" ) ]]; then
  if [[ ! -x "$maker" ]]; then
    echo "make-sample-library was not built" >&2
    exit 1
  fi
  rm -rf "$sample.tmp"
  # Made beside its place and renamed into it: the settings' addresses name the final folder.
  "$maker" "$sample.tmp" --installed-as "$sample"
  rm -rf "$sample"
  mv "$sample.tmp" "$sample"
fi
# The installer's last steps: the sample's viewer page becomes the PDF viewer in the registry
# (the platform's registry folder), so that PDFs open in it with their words marked; and the
# sample publisher's update key is installed (update.pub in the configuration folder above), so
# that the sample's signed updater verifies. A key inside a library is never read.
if [[ -x "$maker" ]]; then
  "$maker" --register-viewer "$sample"
  "$maker" --install-update-key "$sample"
fi
[[ "$prepare_only" == "--prepare-only" ]] && exit 0

app="$build/src/gui/tomeva"
if [[ -x "$app" ]]; then
  app=$(cd "$(dirname "$app")" && pwd)/tomeva
  shots=$(cd "$build" && pwd)/screenshots
  cd "$sample"
  if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    # No screen to show the window on: run under a virtual X server, keep a picture of the main
    # window, and end.
    shot=${TOMEVA_SCREENSHOT:-$shots/run-sample.png}
    mkdir -p "$(dirname "$shot")"
    echo "No display found: running the program under Xvfb instead."
    echo "A screenshot of the main window will be saved to: $shot"
    export TOMEVA_SCREENSHOT="$shot"
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$app"
  fi
  exec "$app"
fi

# A build without the desktop program (Qt left out): the main job from the terminal, a search of
# the sample library printing the first page of hits.
query=${TOMEVA_QUERY:-明月}
echo "Searching the sample library for: $query"
"$tool" search "$sample/SearchDB" "$query" --mode 2
