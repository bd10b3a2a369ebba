#!/usr/bin/env bash
# Builds the threaded suites under ThreadSanitizer in build-tsan and runs them with every
# job split into stages (TOVAMO_STAGES=on), then without:
#
#   scripts/tsan.sh [SUITE...]      (default: the suites below)
#
# Too slow for CI; run it after changing anything that the reading, stage, muxing or task
# threads share, or stop and pause. Reports not listed in tests/tsan.supp fail the run.
# Runs at the lowest priority, as the machine may be shared.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
suites=("$@")
if [ ${#suites[@]} -eq 0 ]; then
  suites=(JobStages_test EngineJobs_test EngineLifecycle_test Encoder_test Timeline_test
          TimestampJumps_test StreamCopy_test ConvertCommand_test)
fi

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DTOVAMO_TSAN=ON -DTOVAMO_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
nice ninja -C "$build" fixturegen tovamo-convert "${suites[@]}"
"$build/tools/fixturegen/fixturegen" "$build/tests/media" >/dev/null

export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
failed=0
for stages in on off; do
  for suite in "${suites[@]}"; do
    echo "== $suite (stages $stages)"
    TOVAMO_STAGES=$stages nice "$build/tests/$suite" --gtest_brief=1 || failed=1
  done
done
exit $failed
