#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: a normal build, then one
# under AddressSanitizer with UndefinedBehaviorSanitizer. Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # build dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTOVAMO_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest -j"$jobs" --output-on-failure --timeout 300)
}

# Line tables are all the debug information a failure report needs, and take a quarter
# less time to compile than full debug information.
lines_only=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
            -DCMAKE_C_FLAGS_DEBUG="-g1" -DCMAKE_CXX_FLAGS_DEBUG="-g1")

echo "== normal build =="
run_suite build "${lines_only[@]}"
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan "${lines_only[@]}" -DTOVAMO_ASAN=ON -DCMAKE_BUILD_TYPE=Debug -DTOVAMO_STAGES_ROUND=OFF
