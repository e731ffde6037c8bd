#!/usr/bin/env bash
# Time from starting the demo (build/bin/parlavox-demo, already built) to the partner's greeting
# shown translated: the moment the translation is in the demo's history, which the translator window
# writes as it shows it. Runs on the current display, or under a private Xvfb with openbox when
# none is set. Usage: bench/demo-greeting-time.sh [runs]   (prints each run and the median, in ms)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec "$root/tests/support/run-under-xvfb.sh" "$0" "$@"
fi
runs=${1:-5}
times=()
for run in $(seq "$runs"); do
  out=$(mktemp)
  start=$(date +%s%N)
  "$root/build/bin/parlavox-demo" >"$out" 2>/dev/null &
  demo=$!
  ms=
  for _ in $(seq 600); do
    folder=$(sed -n 's/^Demo folder: //p' "$out")
    if [ -n "$folder" ] && cat "$folder"/parlavox/History/*/*.dat 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null \
        | grep -q 'Hello, good morning. My name is Sofia.'; then
      ms=$(( ($(date +%s%N) - start) / 1000000 ))
      break
    fi
    sleep 0.05
  done
  kill -TERM "$demo" 2>/dev/null || true
  wait "$demo" 2>/dev/null || true
  rm -f "$out"
  echo "run $run: ${ms:-none} ms"
  [ -n "$ms" ] && times+=("$ms")
  sleep 1
done
[ ${#times[@]} -gt 0 ] || exit 1
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; print "median: " m " ms"}'
