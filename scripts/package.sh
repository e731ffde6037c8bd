#!/usr/bin/env bash
# Builds the Debian package of Parlavox: a Release build in build-package/, then CPack.
# Prints the path of the .deb (build-package/parlavox_<version>_<arch>.deb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-package"
"$root/scripts/install-deps.sh"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPARLAVOX_TESTS=OFF -DPARLAVOX_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${PARLAVOX_JOBS:-2}"
(cd "$build" && rm -f parlavox_*.deb && cpack -G DEB >/dev/null)
ls "$build"/parlavox_*.deb
