#!/usr/bin/env bash
# Builds the engine's and the stages' suites under ThreadSanitizer in build-tsan and runs
# them with every job split into stages (TOVAMO_STAGES=on), then without:
#
#   scripts/tsan.sh [SUITE...]      (default: the suites below)
#
# Too slow for CI; run it after changing anything that the reading, stage or muxing
# threads share. Reports not listed in tests/tsan.supp fail the run. Runs at the lowest
# priority, as the machine may be shared.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
suites=("$@")
if [ ${#suites[@]} -eq 0 ]; then
  suites=(JobStages_test EngineJobs_test Timeline_test TimestampJumps_test StreamCopy_test)
fi

cmake -S "$root" -B "$build" -G Ninja -DTOVAMO_TSAN=ON -DTOVAMO_BENCH=OFF \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
nice ninja -C "$build" fixturegen "${suites[@]}"
"$build/tools/fixturegen/fixturegen" "$build/tests/media" >/dev/null

export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1"
for stages in on off; do
  for suite in "${suites[@]}"; do
    echo "== $suite (stages $stages)"
    TOVAMO_STAGES=$stages nice "$build/tests/$suite"
  done
done
