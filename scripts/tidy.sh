#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy on the C++ files that the commit under test changed
# (git diff HEAD~1 HEAD: on a merge commit of main, everything the merged branch changed), or on
# every C++ file with --all. A changed header is checked through the source file of the same name
# beside it, when there is one. Fails when clang-tidy reports anything.
# Usage: tidy.sh [--all] [build-folder]   (the build folder, ./build by default, is configured here
# and its generated sources are made, so that clang-tidy sees what the compiler sees)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
all=0
if [ "${1:-}" = "--all" ]; then
  all=1
  shift
fi
build=${1:-$root/build}

if [ $all -eq 1 ]; then
  mapfile -t changed < <(git ls-files -- '*.cpp' '*.h')
elif git rev-parse -q --verify HEAD~1 >/dev/null; then
  mapfile -t changed < <(git diff --name-only --diff-filter=d HEAD~1 HEAD -- '*.cpp' '*.h')
else
  changed=()
fi

# The translation units to check: changed sources, and the source of each changed header.
sources=()
for file in "${changed[@]}"; do
  case $file in
    *.cpp) [ -f "$file" ] && sources+=("$file") ;;
    *.h) [ -f "${file%.h}.cpp" ] && sources+=("${file%.h}.cpp") ;;
  esac
done
if [ ${#sources[@]} -eq 0 ]; then
  echo "clang-tidy: no C++ source to check."
  exit 0
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The moc and resource files the sources include.
mapfile -t autogen < <(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_.-]*_autogen\): .*/\1/p' | sort -u)
if [ ${#autogen[@]} -gt 0 ]; then
  cmake --build "$build" -j "$(nproc)" --target "${autogen[@]}" >/dev/null
fi

# Only files the build compiles (fuzz targets need a clang build of their own).
mapfile -t sources < <(printf '%s\n' "${sources[@]}" | sort -u | while read -r file; do
  grep -qF "\"$root/$file\"" "$build/compile_commands.json" && echo "$file"
done)
if [ ${#sources[@]} -eq 0 ]; then
  echo "clang-tidy: no compiled C++ source to check."
  exit 0
fi
echo "clang-tidy: ${#sources[@]} source files."
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet
echo "clang-tidy: no findings."
