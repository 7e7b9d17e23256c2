#!/usr/bin/env bash
# Makes the Debian package in one command and prints its path:
#   scripts/package.sh [BUILD_DIR]
# BUILD_DIR (default build-package) is configured as a Release build without tests and
# benchmarks when it holds no build yet; an existing build folder is used as configured.
# The package is ostrel_<version>-<revision>_<architecture>.deb in BUILD_DIR.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-package}
for tool in cmake cpack dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DOSTREL_BUILD_TESTS=OFF -DOSTREL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$build_dir" >&2
cd "$build_dir"
rm -f ostrel_*.deb
# cpack writes the files into the package as root's, whoever builds it.
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
debs=(ostrel_*.deb)
[ -f "${debs[0]}" ] || { cat cpack.log >&2; echo "package.sh: cpack made no package" >&2; exit 1; }
echo "$PWD/${debs[0]}"
