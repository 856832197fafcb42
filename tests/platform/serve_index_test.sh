#!/usr/bin/env bash
# scripts/serve-index.sh listens where it is told, and on the loopback address when told nothing:
# the index server has no authentication of its own. Usage: serve_index_test.sh SCRIPT
set -uo pipefail
script=$1
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
server=
mkdir -p "$work/SearchDB"
xapian-metadata set "$work/SearchDB/gen.1" made-by serve_index_test >/dev/null || exit 1
echo "glass gen.1" > "$work/SearchDB/XAPIANDB"

failures=0
port=$((40000 + RANDOM % 20000))
# name | the address the script is given (argument, INTERFACE, or none) | where it must listen
while IFS='|' read -r name how expected; do
  port=$((port + 1))
  # In a session of its own: xapian-tcpsrv ends its whole process group when it is stopped.
  case "$how" in
    none) setsid bash "$script" "$work/SearchDB" "$port" >/dev/null 2>&1 & ;;
    arg:*) setsid bash "$script" "$work/SearchDB" "$port" "${how#arg:}" >/dev/null 2>&1 & ;;
    env:*) INTERFACE=${how#env:} setsid bash "$script" "$work/SearchDB" "$port" >/dev/null 2>&1 & ;;
  esac
  server=$!
  listening=
  for _ in $(seq 50); do
    listening=$(ss -Hltn "sport = :$port" | awk '{print $4}')
    [[ -n "$listening" ]] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if [[ "$expected" == refused ]]; then
    [[ -n "$listening" ]] && kill "$server" 2>/dev/null
    wait "$server"; status=$?
    if [[ $status -eq 0 || -n "$listening" ]]; then
      echo "FAIL $name: started (exit $status, listening on '$listening')"; failures=$((failures + 1))
    fi
  elif [[ "$listening" != "$expected:$port" ]]; then
    echo "FAIL $name: listening on '$listening', expected $expected:$port"
    failures=$((failures + 1))
  fi
  kill "$server" 2>/dev/null; wait "$server" 2>/dev/null
done <<'CASES'
loopback by default|none|127.0.0.1
address as third argument|arg:127.0.0.2|127.0.0.2
address from INTERFACE|env:127.0.0.3|127.0.0.3
argument before INTERFACE|arg:127.0.0.4|127.0.0.4
an option posing as an address|arg:--one-shot|refused
CASES

# Stubs the program never writes are not served: xapian-tcpsrv would start the program they name.
mkdir -p "$work/Hostile/gen.1"
cp -r "$work/SearchDB/gen.1/." "$work/Hostile/gen.1/"
while IFS='|' read -r name stub; do
  printf '%s\n' "$stub" > "$work/Hostile/XAPIANDB"
  rm -f "$work/ran"
  port=$((port + 1))
  timeout 10 setsid bash "$script" "$work/Hostile" "$port" >/dev/null 2>&1; status=$?
  if [[ $status -eq 0 || $status -eq 124 || -e "$work/ran" ]]; then
    echo "FAIL stub $name: served (exit $status)"; failures=$((failures + 1))
  fi
done <<CASES
a program to start|remote :/bin/touch $work/ran
prog line|prog /bin/touch $work/ran
auto naming a folder outside|auto /etc
glass with a climb|glass gen.1/../..
CASES
# A good first line does not carry a second one through.
printf 'glass gen.1\nremote :/bin/touch %s/ran\n' "$work" > "$work/Hostile/XAPIANDB"
timeout 10 setsid bash "$script" "$work/Hostile" "$((port + 1))" >/dev/null 2>&1; status=$?
if [[ $status -eq 0 || $status -eq 124 || -e "$work/ran" ]]; then
  echo "FAIL stub with a second line: served (exit $status)"; failures=$((failures + 1))
fi
# A generation that is itself a stub naming a program, reached through "auto".
mkdir -p "$work/Nested/gen.1"
printf 'remote :/bin/touch %s/ran\n' "$work" > "$work/Nested/gen.1/XAPIANDB"
for stub in "auto gen.1" "glass gen.1"; do
  echo "$stub" > "$work/Nested/XAPIANDB"
  rm -f "$work/ran"
  timeout 10 setsid bash "$script" "$work/Nested" "$((port += 1))" >/dev/null 2>&1; status=$?
  if [[ $status -eq 0 || $status -eq 124 || -e "$work/ran" ]]; then
    echo "FAIL nested stub behind '$stub': served (exit $status, program ran: $([[ -e $work/ran ]] && echo yes || echo no))"
    failures=$((failures + 1))
  fi
done

((failures == 0)) && echo "serve-index: all cases passed"
exit $((failures > 0))
