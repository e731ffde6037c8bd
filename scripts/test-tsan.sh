#!/usr/bin/env bash
# Builds the translation, dispatch and translator-window tests with ThreadSanitizer in build-tsan and runs
# the tests that cross threads under it: the worker queue, the token page, and the message flows. Any data race or lock-order report fails the run.
# Usage: test-tsan.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARLAVOX_TSAN=ON -DPARLAVOX_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target test_translate test_chatclient test_translator

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp ${TSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
# Some kernels place mappings where ThreadSanitizer cannot work; without address randomisation it can.
runner=()
if command -v setarch >/dev/null; then
  runner=(setarch "$(uname -m)" -R)
fi
"${runner[@]}" "$build/tests-bin/test_translate" --gtest_filter='TranslationWorker*:TokenPage*'
"${runner[@]}" "$build/tests-bin/test_chatclient" --gtest_filter='MessageDispatch*'
"${runner[@]}" "$build/tests-bin/test_translator" --gtest_filter='MessageFlow*'
