#!/usr/bin/env bash
# Builds the response-parsing fuzz target with clang in build-fuzz and runs it.
# Usage: fuzz.sh [seconds]   (default 60)
#   fuzz.sh 0   runs every body of the committed corpus once and stops: a regression check.
# New inputs go to build-fuzz/corpus, findings to build-fuzz/artifacts; fuzz/corpus stays as
# committed.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARLAVOX_FUZZ=ON -DPARLAVOX_TESTS=OFF -DPARLAVOX_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target response_parser_fuzz

fuzzer="$build/fuzz-bin/response_parser_fuzz"
seeds="$root/fuzz/corpus"
if [ "$seconds" = 0 ]; then
  exec "$fuzzer" -dict="$root/fuzz/response.dict" "$seeds"/*
fi
mkdir -p "$build/corpus" "$build/artifacts"
exec "$fuzzer" -dict="$root/fuzz/response.dict" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 "$build/corpus" "$seeds"
