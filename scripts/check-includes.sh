#!/usr/bin/env bash
# Checks the include lines the build's layering relies on: Qt headers by their short names (<QWidget>,
# not <QtWidgets/QWidget>) and our own headers by their path from src/ ("platform/core/Text.h", not
# "Text.h"). Both are then found only in the include folders of what a library links, so the build
# rejects a library that includes what it does not link. A module path would be found through Qt's
# include root, which every Qt library brings, and a bare name next to the including file, which
# the platform libraries share.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
if matches=$(git grep -nE '^\s*#\s*include\s*<Qt[A-Za-z]+/' -- 'src/*.cpp' 'src/*.h'); then
  printf 'Qt headers included by module path (use the short name):\n%s\n' "$matches"
  status=1
fi
if matches=$(git grep -nE '^\s*#\s*include\s*"[^/"]+"' -- 'src/*.cpp' 'src/*.h'); then
  printf 'Headers included by bare name (use the path from src/):\n%s\n' "$matches"
  status=1
fi
[ $status -eq 0 ] && echo "Includes: Qt headers by short name, our headers by their path from src/."
exit $status
