#!/usr/bin/env bash
# Runs a command beside build/bin/parlavox-service and stops the service when the command ends.
# Usage: with-service.sh COMMAND [ARGUMENTS...]
# The service listens where Parlavox will ask: PARLAVOX_SERVICE_HOST when it names this machine
# (127.0.0.1 or localhost, with its port), 127.0.0.1:8731 when it is unset. When it names another
# host, nothing is started. The service's log goes to build/bin/Logs/parlavox-service.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"

host=${PARLAVOX_SERVICE_HOST:-127.0.0.1:8731}
port=
case "$host" in
  127.0.0.1:*|localhost:*) port=${host##*:} ;;
  127.0.0.1|localhost) port=80 ;;
esac

service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}

if [ -n "$port" ]; then
  mkdir -p "$bin/Logs"
  banner="$bin/Logs/parlavox-service.out"
  : >"$banner"
  "$bin/parlavox-service" --listen "127.0.0.1:$port" >"$banner" 2>>"$bin/Logs/parlavox-service.log" &
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
    echo "parlavox-service did not start on 127.0.0.1:$port (is another service there already?):" >&2
    tail -n 3 "$bin/Logs/parlavox-service.log" >&2 || true
  fi
fi

status=0
"$@" || status=$?
exit "$status"
