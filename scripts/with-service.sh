#!/usr/bin/env bash
# Runs a command beside build/bin/parlavox-service and stops the service when the command ends.
# Usage: with-service.sh COMMAND [ARGUMENTS...]
# The service listens where Parlavox will ask: when PARLAVOX_SERVICE_HOST is unset, on the user's
# own Unix socket (parlavox-service.sock in $XDG_RUNTIME_DIR/parlavox, or in ~/.cache/parlavox
# without XDG_RUNTIME_DIR: a folder only the user can enter); when it names this machine (127.0.0.1
# or localhost, with its port), on that port. When it names another host, nothing is started. A
# service already listening there is left to serve. The service's log goes to
# build/bin/Logs/parlavox-service.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"

listen=()
where=
if [ -z "${PARLAVOX_SERVICE_HOST:-}" ]; then
  listen=(--user-socket)
  where="the user's own socket"
else
  case "$PARLAVOX_SERVICE_HOST" in
    127.0.0.1:*|localhost:*) listen=(--listen "127.0.0.1:${PARLAVOX_SERVICE_HOST##*:}") ;;
    127.0.0.1|localhost) listen=(--listen 127.0.0.1:80) ;;
  esac
  where=${listen[1]:-}
fi

service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}

if [ ${#listen[@]} -gt 0 ]; then
  mkdir -p "$bin/Logs"
  banner="$bin/Logs/parlavox-service.out"
  : >"$banner"
  "$bin/parlavox-service" "${listen[@]}" >"$banner" 2>>"$bin/Logs/parlavox-service.log" &
  service_pid=$!
  trap stop_service EXIT
  trap 'stop_service; exit 130' INT
  trap 'stop_service; exit 143' TERM
  for _ in $(seq 100); do
    grep -q '^voices:' "$banner" && break
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$service_pid" 2>/dev/null; then
    cat "$banner"
  else
    wait "$service_pid" 2>/dev/null || true
    service_pid=
    echo "parlavox-service did not start on $where (is another service there already?):" >&2
    tail -n 3 "$bin/Logs/parlavox-service.log" >&2 || true
  fi
fi

status=0
"$@" || status=$?
exit "$status"
