#!/usr/bin/env bash
# Configures and builds Parlavox.
# Usage: build.sh [--target NAME]... [build-folder] [extra cmake options...]
# Without --target it builds everything (tests and benchmarks too); with it, only those targets
# and what they need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=()
while [ "${1:-}" = "--target" ]; do
  targets+=(--target "$2")
  shift 2
done
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
