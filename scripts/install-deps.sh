#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt (or of the list given as the argument) that
# are not installed yet.
# Runs apt-get only when something is missing, so repeated builds stay quick.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done < "${1:-$here/packages.txt}"
if ((${#missing[@]} == 0)); then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
