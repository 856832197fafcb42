#!/usr/bin/env bash
# Serves a library's index to the stations of a reading room with Xapian's own server,
# xapian-tcpsrv (Debian's xapian-tools). Runs in the foreground; Ctrl-C stops it.
#
# Usage: scripts/serve-index.sh [INDEX_FOLDER] [PORT]
#   INDEX_FOLDER  the library's index folder, the one holding the XAPIANDB stub (default
#                 sample/SearchDB)
#   PORT          the TCP port (default $PORT, else 33333)
# Environment: INTERFACE  the address to listen on (default: every interface).
#
# The folder itself is served, not its current generation: xapian-tcpsrv opens the folder's stub
# for every connection, so after an optimise (which swaps gen.N for gen.N+1 and removes gen.N)
# new connections open the new generation and the server needs no restart. Stations keep their
# connections between searches and drop one at its first failure, so an optimise costs each
# station one reconnect. Imports and optimising run on this machine, through the same folder.
set -euo pipefail

index=${1:-sample/SearchDB}
port=${2:-${PORT:-33333}}

if ! command -v xapian-tcpsrv >/dev/null 2>&1; then
  echo "serve-index: xapian-tcpsrv is missing; run scripts/install-deps.sh (xapian-tools)" >&2
  exit 1
fi
if [[ ! -f "$index/XAPIANDB" ]]; then
  echo "serve-index: $index holds no index (no XAPIANDB stub); build the library first" >&2
  exit 1
fi
# A station's own folder names another server: serving it would only pass the searches on.
if grep -Eq '^[[:space:]]*(remote|tcp)[[:space:]]' "$index/XAPIANDB"; then
  echo "serve-index: $index is a station's folder (its stub names a server), not an index" >&2
  exit 1
fi
if ! [[ "$port" =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
  echo "serve-index: bad port '$port'" >&2
  exit 1
fi

args=(--port "$port")
if [[ -n "${INTERFACE:-}" ]]; then args+=(--interface "$INTERFACE"); fi
echo "Serving $(cd "$index" && pwd) on port $port; stations' stub: remote $(hostname):$port"
exec xapian-tcpsrv "${args[@]}" "$index"
