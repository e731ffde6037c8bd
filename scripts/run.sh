#!/usr/bin/env bash
# Installs what is missing, builds, and starts Parlavox from build/bin, with its translation and
# speech service beside it (scripts/with-service.sh: unless PARLAVOX_SERVICE_HOST names another
# host; stopped when Parlavox ends).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
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
