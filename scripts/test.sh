#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as built for use, and once
# more built with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the
# test it happens in). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 300

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=ON \
  -DOSTREL_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 --timeout 300

# Fuzzing with libFuzzer (clang): about a minute per target, any finding fails.
FUZZ_SECONDS="${FUZZ_SECONDS:-60}" ./scripts/fuzz.sh
