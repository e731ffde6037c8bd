#!/usr/bin/env bash
# The memory of parlavox-service as Parlavox starts it (on the user's socket), once each of five
# pairs has translated a sentence (en-es, es-en, en-fr, fr-en, en-pt): the PSS of the service and
# of every process under it (its pipelines), summed, from /proc/PID/smaps_rollup.
# Usage: bench/service-memory.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ ! -x "$build/bin/parlavox-service" ]; then
  echo "service-memory.sh: $build/bin/parlavox-service is missing: build first (scripts/build.sh)" >&2
  exit 1
fi
runtime=$(mktemp -d)
chmod 700 "$runtime"
service=
cleanup() {
  if [ -n "$service" ]; then
    kill "$service" 2>/dev/null || true
    wait "$service" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
XDG_RUNTIME_DIR=$runtime "$build/bin/parlavox-service" --user-socket >/dev/null 2>&1 &
service=$!
socket=$runtime/parlavox/parlavox-service.sock
for _ in $(seq 200); do
  curl -sf --unix-socket "$socket" http://localhost/status >/dev/null && break
  sleep 0.1
done
for pair in en-es es-en en-fr fr-en en-pt; do
  curl -sf --unix-socket "$socket" \
    "http://localhost/translate_a/single?sl=${pair%-*}&tl=${pair#*-}&q=Hello%20world." >/dev/null ||
    echo "service-memory.sh: $pair failed" >&2
done

# The pipelines are started from the service's worker threads: walk every thread's children.
descendants() {
  local child
  for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    echo "$child"
    descendants "$child"
  done
}
pss() { awk '/^Pss:/ { print $2 }' /proc/"$1"/smaps_rollup 2>/dev/null || echo 0; }
total=0
count=0
for pid in "$service" $(descendants "$service"); do
  total=$((total + $(pss "$pid")))
  count=$((count + 1))
done
echo "processes $count"
echo "service_pss_kib $(pss "$service")"
echo "total_pss_kib $total"
echo "total_pss_mib $((total / 1024))"
