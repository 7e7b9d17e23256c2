#!/usr/bin/env bash
# Installs what is missing, builds the programs and their program folder build/app/ (not
# the tests and benchmarks, which scripts/test.sh builds), and starts Ostrel from there.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(ostrel ostrel_app_folder)
# The terminal programs beside it, where this tree has them.
known=$(cmake --build build --target help)
for target in ostrel_send ostrel_respond; do
  grep -q "^$target:" <<<"$known" && targets+=("$target")
done
cmake --build build --target "${targets[@]}"
exec build/app/ostrel
