#!/usr/bin/env bash
# Start-up time (process start to the main window on screen) and resident memory after start,
# median of several runs under Xvfb with openbox. Usage: bench/startup.sh [build-folder] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-9}
if [ -z "${INSIDE_XVFB:-}" ]; then
  INSIDE_XVFB=1 exec "$root/tests/support/run-under-xvfb.sh" "$0" "$build" "$runs"
fi

if [ ! -x "$build/bin/parlavox" ]; then
  echo "startup.sh: $build/bin/parlavox is missing: build first (scripts/build.sh)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build"/bin/parlavox "$build"/bin/*.ini "$build"/bin/*.txt "$build"/bin/*.htm "$work"/ 2>/dev/null || true
rm -f "$work/ConfigEN.ini"

times=()
rss=()
for _ in $(seq 1 "$runs"); do
  log="$work/log"
  PARLAVOX_STARTUP_TRACE=$(date +%s%3N) "$work/parlavox" 2>"$log" &
  pid=$!
  for _ in $(seq 1 200); do grep -q startup-ms "$log" && break; sleep 0.02; done
  sleep 1
  times+=("$(grep -o 'startup-ms [0-9]*' "$log" | awk '{print $2}')")
  rss+=("$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")")
  kill -TERM "$pid"; wait "$pid" || true
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "runs: $runs"
echo "start-up ms: ${times[*]}  median $(median "${times[@]}")"
echo "resident KiB: ${rss[*]}  median $(median "${rss[@]}")"
