#!/usr/bin/env bash
# Serves a library's index to the stations of a reading room with Xapian's own server,
# xapian-tcpsrv (Debian's xapian-tools). Runs in the foreground; Ctrl-C stops it.
#
# Usage: scripts/serve-index.sh [INDEX_FOLDER] [PORT] [ADDRESS]
#   INDEX_FOLDER  the library's index folder, the one holding the XAPIANDB stub (default
#                 sample/SearchDB)
#   PORT          the TCP port (default $PORT, else 33333)
#   ADDRESS       the address to listen on (default $INTERFACE, else 127.0.0.1: this machine only)
#
# xapian-tcpsrv asks no one for a password and encrypts nothing: whoever reaches the port reads
# the whole index, and a station that reaches a server not ours can be fed replies as large as
# that server likes. So it listens on the loopback address unless told otherwise, and stations on
# other machines reach it through an authenticated tunnel (ssh -L, or stunnel with client
# certificates; docs/reading-room.md has the commands). Give another address only for a network
# that holds nothing but the reading room's own machines.
#
# The folder itself is served, not its current generation: xapian-tcpsrv opens the folder's stub
# for every connection, so after an optimise (which swaps gen.N for gen.N+1 and removes gen.N)
# new connections open the new generation and the server needs no restart. Stations keep their
# connections between searches and drop one at its first failure, so an optimise costs each
# station one reconnect. Imports and optimising run on this machine, through the same folder.
set -euo pipefail

index=${1:-sample/SearchDB}
port=${2:-${PORT:-33333}}
address=${3:-${INTERFACE:-127.0.0.1}}

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
# xapian-tcpsrv follows whatever the stub says, and a stub can name a program to start. Only the
# one line the program itself writes is served: its current generation, a real folder beside it.
stub=$(head -c 4096 "$index/XAPIANDB")
if ! [[ "$stub" =~ ^glass\ (gen\.[0-9]+)$ ]] || [[ -L "$index/${BASH_REMATCH[1]}" ]] ||
   [[ ! -d "$index/${BASH_REMATCH[1]}" ]] || [[ -e "$index/${BASH_REMATCH[1]}/XAPIANDB" ]]; then
  echo "serve-index: $index/XAPIANDB is not a stub this program writes (glass gen.N); not served" >&2
  exit 1
fi
if ! [[ "$port" =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
  echo "serve-index: bad port '$port'" >&2
  exit 1
fi

if [[ -z "$address" || "$address" == -* || "$address" =~ [[:space:]] ]]; then
  echo "serve-index: bad address '$address'" >&2
  exit 1
fi

case "$address" in
  127.* | ::1 | localhost)
    echo "Serving $(cd "$index" && pwd) on $address port $port (this machine only);" \
      "stations reach it through a tunnel, with the stub: remote 127.0.0.1:$port" ;;
  *)
    echo "Serving $(cd "$index" && pwd) on $address port $port WITHOUT authentication:" \
      "anyone who reaches this address reads the index (docs/reading-room.md)" >&2 ;;
esac
exec xapian-tcpsrv --port "$port" --interface "$address" "$index"
