#!/usr/bin/env bash
# Time from starting the history viewer (build/bin/MessageViewer, already built) with a partner's
# handle, as the translator window's history button starts it, until its window is visible (the
# newest day is read on a thread of its own meanwhile, and its entries follow; the time until they
# are shown is ViewerBench's Open). Two partners of 10 MB each: one over a year of
# days, one with all of it in a single day. Works on a copy of build/bin in a temporary folder, on
# the current display or under a private Xvfb when none is set.
# Usage: bench/viewer-open-time.sh [runs]   (prints each run and the median, in ms)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec "$root/tests/support/run-under-xvfb.sh" "$0" "$@"
fi
runs=${1:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/build/bin" "$work/bin"
rm -rf "$work/bin/History"
python3 - "$work/bin/History" <<'PY'
import datetime, os, sys
root = sys.argv[1]
mark = b'\xff\xfe'
def entry(day, n):
    if n % 2 == 0:
        text = '%02d:%02d:%02d huge@chat.example 说：\r我们明天几点见面？第%d次\r{ What time shall we meet tomorrow? number %d }' % (n // 3600 % 24, n // 60 % 60, n % 60, n, n)
    else:
        text = '%02d:%02d:%02d 我说：\rAt ten, at the station, message %d.\t\r{ 十点，在车站。%d }' % (n // 3600 % 24, n // 60 % 60, n % 60, n, n)
    return mark + (day + ' ' + text + '\r\n').encode('utf-16-le')
def write(handle, days):
    folder = os.path.join(root, handle)
    os.makedirs(folder, exist_ok=True)
    size = 10 * 1024 * 1024 // len(days)
    for day in days:
        data = bytearray()
        n = 0
        while len(data) < size:
            data += entry(day, n)
            n += 1
        open(os.path.join(folder, day + '.dat'), 'wb').write(data)
write('year@chat.example', [(datetime.date(2025, 12, 11) + datetime.timedelta(days=i)).isoformat() for i in range(365)])
write('day@chat.example', ['2026-12-10'])
PY
cd "$work/bin"
for handle in year@chat.example day@chat.example; do
  times=()
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    QT_QPA_PLATFORM=xcb ./MessageViewer "$handle" >/dev/null 2>&1 &
    viewer=$!
    until xdotool search --onlyvisible --pid "$viewer" >/dev/null 2>&1; do sleep 0.02; done
    end=$(date +%s%N)
    kill "$viewer"
    wait "$viewer" 2>/dev/null || true
    times+=($(((end - start) / 1000000)))
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  echo "$handle: ${times[*]} ms; median $median ms"
done
