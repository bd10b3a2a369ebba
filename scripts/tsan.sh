#!/usr/bin/env bash
# Builds the engine under ThreadSanitizer (build-tsan) and runs the suites where threads
# meet: the job's stages, the engine's jobs and life cycle, the encoder component and the
# command, each with stages on and off. Too slow for CI; run it after changing threads,
# queues, stop or pause. Fails when any test fails or ThreadSanitizer reports a race.
# Usage: bash scripts/tsan.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-tsan -G Ninja -DTOVAMO_TSAN=ON -DTOVAMO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
suites=(JobStages_test EngineJobs_test EngineLifecycle_test Encoder_test TimestampJumps_test
        ConvertCommand_test)
cmake --build build-tsan -j"$jobs" --target fixturegen tovamo-convert "${suites[@]}"
build-tsan/tools/fixturegen/fixturegen build-tsan/tests/media >/dev/null

export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
failed=0
for stages in off on; do
  for suite in "${suites[@]}"; do
    echo "== $suite, stages $stages =="
    TOVAMO_STAGES=$stages "build-tsan/tests/$suite" --gtest_filter="${1:-*}" --gtest_brief=1 ||
      failed=1
  done
done
exit $failed
