#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs one.
# Usage: fuzz.sh [seconds] [target]   (default 60 seconds, target response_parser_fuzz)
#   targets: response_parser_fuzz (translation responses), service_query_fuzz (the service's
#   request handling), history_reader_fuzz (the history viewer's reading of history files),
#   http_server_fuzz (the service's connections: its event loop, head reading and log lines)
#   fuzz.sh 0   runs every target over its committed corpus once and stops: a regression check.
# New inputs go to build-fuzz/corpus[-<target>], findings to build-fuzz/artifacts; the committed
# corpora stay as they are.
set -euo pipefail
seconds=${1:-60}
target=${2:-response_parser_fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

# Each target with its seed corpus, its dictionary and its folder for new inputs.
declare -A seeds=([response_parser_fuzz]=corpus [service_query_fuzz]=service-corpus [history_reader_fuzz]=history-corpus
  [http_server_fuzz]=http-corpus)
declare -A dicts=([response_parser_fuzz]=response.dict [service_query_fuzz]=query.dict [history_reader_fuzz]=history.dict
  [http_server_fuzz]=http.dict)
declare -A found=([response_parser_fuzz]=corpus [service_query_fuzz]=corpus-service [history_reader_fuzz]=corpus-history
  [http_server_fuzz]=corpus-http)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARLAVOX_FUZZ=ON -DPARLAVOX_TESTS=OFF -DPARLAVOX_BENCHMARKS=OFF >/dev/null

if [ "$seconds" = 0 ]; then
  cmake --build "$build" --target "${!seeds[@]}"
  for t in "${!seeds[@]}"; do
    "$build/fuzz-bin/$t" -dict="$root/fuzz/${dicts[$t]}" "$root/fuzz/${seeds[$t]}"/*
  done
  exit 0
fi
if [ -z "${seeds[$target]:-}" ]; then
  echo "unknown fuzz target: $target (${!seeds[*]})" >&2
  exit 2
fi
cmake --build "$build" --target "$target"
mkdir -p "$build/${found[$target]}" "$build/artifacts"
exec "$build/fuzz-bin/$target" -dict="$root/fuzz/${dicts[$target]}" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 "$build/${found[$target]}" "$root/fuzz/${seeds[$target]}"
