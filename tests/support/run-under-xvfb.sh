#!/usr/bin/env bash
# Runs a command under a private Xvfb display with the openbox window manager, then stops both.
# Usage: run-under-xvfb.sh <command> [args...]
set -u

exec 3>&-
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$fdfile" ] && break
  sleep 0.05
done
display=$(head -n1 "$fdfile")
rm -f "$fdfile"
if [ -z "$display" ]; then
  echo "run-under-xvfb: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"

openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# Wait until the window manager has taken the screen.
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

"$@"
rc=$?

kill "$wm_pid" 2>/dev/null
kill "$xvfb_pid" 2>/dev/null
wait "$wm_pid" "$xvfb_pid" 2>/dev/null
exit $rc
