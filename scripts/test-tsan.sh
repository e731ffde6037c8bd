#!/usr/bin/env bash
# Builds the translation, dispatch, translator-window and service tests, and parlavox-service itself, with
# ThreadSanitizer in build-tsan and runs the tests that cross threads under it: the worker queue,
# the token page, the message flows, the service's own tests, and the service as a process (built
# with ThreadSanitizer too) serving speech and translations in parallel. Any data race or
# lock-order report, in a test or in the service, fails the run.
# Usage: test-tsan.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARLAVOX_TSAN=ON -DPARLAVOX_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target test_translate test_session test_translator test_service test_service_process \
  parlavox-service

# The service runs as a child of its tests, with its stderr in a log of their own: every process
# writes its reports into the reports folder, which must stay empty.
reports=$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp log_path=$reports/report ${TSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
# Some kernels place mappings where ThreadSanitizer cannot work; without address randomisation it can.
runner=()
if command -v setarch >/dev/null; then
  runner=(setarch "$(uname -m)" -R)
fi
status=0
run() {
  "${runner[@]}" "$@" || status=1
}
run "$build/tests-bin/test_translate" --gtest_filter='TranslationWorker*:TokenPage*'
run "$build/tests-bin/test_session" --gtest_filter='MessageDispatch*'
run "$build/tests-bin/test_translator" --gtest_filter='MessageFlow*'
run "$build/tests-bin/test_service"
run "$build/tests-bin/test_service_process" \
  --gtest_filter='ServiceTest.SpeaksAndTranslatesInParallel:ServiceTest.AnswersConcurrentRequestsEachRight:SpeechQueueTest.*:ForwardingTest.SilentServerDelaysNothingElse'
if compgen -G "$reports/report*" >/dev/null; then
  cat "$reports"/report*
  echo "test-tsan.sh: ThreadSanitizer reports above" >&2
  exit 1
fi
exit $status
