#!/usr/bin/env bash
# Start-up time (process start to the main window on screen), the processor time used until then,
# and resident memory one second after it, for parlavox and for the floor it is held to: a bare Qt
# Widgets window of the same size
# (bench-bin/BareWindow), timed by the same trace. Both run alternately in the same run, under Xvfb
# with openbox, so that a machine loaded by others weighs on both alike; it prints every figure,
# both medians and parlavox's ratios to the floor.
# Usage: bench/startup.sh [build-folder] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-9}
# On a private session bus, as on a desktop: without one, each program would launch a bus of its
# own as it starts.
if [ -z "${INSIDE_XVFB:-}" ]; then
  INSIDE_XVFB=1 exec dbus-run-session -- "$root/tests/support/run-under-xvfb.sh" "$0" "$build" "$runs"
fi

for program in "$build/bin/parlavox" "$build/bench-bin/BareWindow"; do
  if [ ! -x "$program" ]; then
    echo "startup.sh: $program is missing: build first (scripts/build.sh)" >&2
    exit 1
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A fresh installation: the programs and data files without settings. The translation service
# comes along, so that its start counts as it does in a real run; its socket is in a folder of this
# run's own, so that a service someone else runs is neither used nor disturbed.
cp "$build"/bin/parlavox "$build"/bin/*.ini "$build"/bin/*.txt "$build"/bin/*.htm "$work"/ 2>/dev/null || true
cp "$build"/bin/parlavox-service "$work"/ 2>/dev/null || true
cp "$build"/bench-bin/BareWindow "$work"/
rm -f "$work/ConfigEN.ini"
mkdir -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

# measure PROGRAM: runs it until one second after its window appeared; sets `ms` and `kib`.
measure() {
  local log="$work/log" pid
  : >"$log"
  PARLAVOX_STARTUP_TRACE=$(date +%s%3N) "$work/$1" 2>"$log" &
  pid=$!
  for _ in $(seq 1 500); do grep -q startup-ms "$log" && break; sleep 0.02; done
  sleep 1
  ms=$(grep -o 'startup-ms [0-9]*' "$log" | awk '{print $2}')
  cpu=$(grep -o 'cpu-ms [0-9]*' "$log" | awk '{print $2}')
  kib=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || true
  if [ -z "$ms" ]; then
    echo "startup.sh: $1 printed no start-up time:" >&2
    cat "$log" >&2
    exit 1
  fi
}

# One run of each first, not counted: it brings the files into the page cache.
measure BareWindow
measure parlavox
bare_ms=() bare_cpu=() bare_kib=() app_ms=() app_cpu=() app_kib=()
for run in $(seq 1 "$runs"); do
  # The order alternates, so that neither always runs right after the other.
  if [ $((run % 2)) -eq 1 ]; then order="BareWindow parlavox"; else order="parlavox BareWindow"; fi
  for program in $order; do
    measure "$program"
    if [ "$program" = BareWindow ]; then
      bare_ms+=("$ms") bare_cpu+=("$cpu") bare_kib+=("$kib")
    else
      app_ms+=("$ms") app_cpu+=("$cpu") app_kib+=("$kib")
    fi
  done
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
range() { printf '%s\n' "$@" | sort -n | awk 'NR==1 {low=$1} {high=$1} END {print low "-" high}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
echo "runs: $runs of each, alternately"
echo "bare window start-up ms: ${bare_ms[*]}  median $(median "${bare_ms[@]}")  range $(range "${bare_ms[@]}")"
echo "parlavox    start-up ms: ${app_ms[*]}  median $(median "${app_ms[@]}")  range $(range "${app_ms[@]}")"
echo "bare window processor ms until shown: ${bare_cpu[*]}  median $(median "${bare_cpu[@]}")"
echo "parlavox    processor ms until shown: ${app_cpu[*]}  median $(median "${app_cpu[@]}")"
echo "bare window resident KiB: ${bare_kib[*]}  median $(median "${bare_kib[@]}")"
echo "parlavox    resident KiB: ${app_kib[*]}  median $(median "${app_kib[@]}")"
echo "ratio start-up: $(ratio "$(median "${app_ms[@]}")" "$(median "${bare_ms[@]}")")x" \
  " processor: $(ratio "$(median "${app_cpu[@]}")" "$(median "${bare_cpu[@]}")")x" \
  " resident: $(ratio "$(median "${app_kib[@]}")" "$(median "${bare_kib[@]}")")x"
