#!/usr/bin/env bash
# Formats every C++ source and header of the project with .clang-format.
# Usage: format.sh [--check]   (--check: changes nothing, lists the files that differ, fails if any does)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || "$root/scripts/install-deps.sh"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  differing=()
  for f in "${files[@]}"; do
    clang-format "$f" | cmp -s - "$f" || differing+=("$f")
  done
  if [ ${#differing[@]} -gt 0 ]; then
    printf 'Not formatted (run scripts/format.sh):\n'
    printf '  %s\n' "${differing[@]}"
    exit 1
  fi
  echo "Formatting: ${#files[@]} files as .clang-format wants them."
  exit 0
fi
clang-format -i "${files[@]}"
