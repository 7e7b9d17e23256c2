#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang-14 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for FUZZ_SECONDS seconds (60 by
# default) on a copy of its seed corpus under fuzz/corpus/. Prints the executions of every
# target; exits non-zero when a target finds a crash or a broken property, naming the file
# that holds the input. FUZZ_BUILD_DIR puts the build elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_numeric_text fuzz_ini_file fuzz_log_rotation fuzz_grid_readback fuzz_byte_editor
  fuzz_answer_pattern)

if ! command -v clang++-14 >/dev/null; then
  echo "fuzz: clang++-14 is missing (apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

failed=()
for target in "${targets[@]}"; do
  work=$build/run/$target
  rm -rf "$work"
  mkdir -p "$work/crashes"
  cp -r "fuzz/corpus/${target#fuzz_}" "$work/corpus"
  status=0
  # -timeout: an input running longer than 10 s counts as a hang.
  "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  echo "fuzz: $target: ${runs:-?} executions in ${seconds} s"
  found=$(find "$work/crashes" -type f)
  if [[ $status -ne 0 || -n $found ]]; then
    failed+=("$target")
    grep -E 'property violated|ERROR:|runtime error|SUMMARY' "$work/log" | head -n 5 || true
    echo "fuzz: $target failed (exit $status); log $work/log"
    for file in $found; do echo "fuzz: input kept in $file"; done
  fi
done

if [[ ${#failed[@]} -ne 0 ]]; then
  echo "fuzz: failing targets: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds} s each without a finding"
