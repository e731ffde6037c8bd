#!/usr/bin/env bash
# Installs what is missing, builds, and starts Parlavox from build/bin, with its translation and
# speech service beside it (scripts/with-service.sh: on the user's own Unix socket, or on the port
# PARLAVOX_SERVICE_HOST names on this machine, none for another host; stopped when Parlavox ends).
# With --demo, or when the user's Pidgin has no account yet, it starts the demo instead
# (build/bin/parlavox-demo): Parlavox docked in a private chat with a partner who writes Spanish,
# everything of it in a temporary folder, all stopped when Parlavox ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
elif ! grep -qs '<account>' "${HOME:-/nonexistent}/.purple/accounts.xml"; then
  echo "Your Pidgin has no account yet: starting the demo conversation (Exit in Parlavox ends it; add an account in Pidgin to translate your own chats)." >&2
  demo=1
fi
"$root/scripts/install-deps.sh"
# Only what runs: the programs and their data files. The tests and benchmarks are the test
# command's, which builds everything in the same folder.
"$root/scripts/build.sh" --target parlavox --target parlavox-service --target MessageViewer \
  --target parlavox-demo --target parlavox_data "$root/build"
if [ -n "$demo" ]; then
  if [ -z "${DISPLAY:-}" ]; then
    echo "No X display is set (DISPLAY is empty): starting the demo on a virtual display." >&2
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/bin/parlavox-demo"
  fi
  exec "$root/build/bin/parlavox-demo"
fi
# Parlavox talks to the chat client over the session bus: give it one when there is none.
bus=()
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  bus=(dbus-run-session --)
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display is set (DISPLAY is empty): starting Parlavox on a virtual display." >&2
  exec "$root/scripts/with-service.sh" xvfb-run -a -s "-screen 0 1280x1024x24" "${bus[@]}" "$root/build/bin/parlavox" "$@"
fi
exec "$root/scripts/with-service.sh" "${bus[@]}" "$root/build/bin/parlavox" "$@"
