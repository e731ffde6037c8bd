#!/usr/bin/env bash
# Installs what is missing, builds, and starts Parlavox from build/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display is set (DISPLAY is empty): starting Parlavox on a virtual display." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/bin/parlavox" "$@"
fi
exec "$root/build/bin/parlavox" "$@"
