#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Usage: test.sh [--sanitize]   (--sanitize: AddressSanitizer and UndefinedBehaviorSanitizer build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

build="$root/build"
# Warnings in our own code fail the build here, as in CI.
options=(-DPARLAVOX_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-sanitize"
  options=(-DPARLAVOX_SANITIZE=ON -DPARLAVOX_BENCHMARKS=OFF -DPARLAVOX_WERROR=ON)
  # LeakSanitizer is on: every worker is joined before a test program ends.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
"$root/scripts/build.sh" "$build" "${options[@]}"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
