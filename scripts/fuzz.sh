#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UBSan) in build-fuzz and
# runs one of them, or all in turn, for the given number of seconds each:
#
#   scripts/fuzz.sh TARGET|all SECONDS
#
# Targets: fuzz/targets/<name>.cpp; seeds: fuzz/corpus/<name>/ (read only), and the words
# of fuzz/dict/<name>.dict where there is one. What a run
# learns stays in build-fuzz/fuzz-work/<name>/; an input that fails is written to
# build-fuzz/fuzz-failures/<name>/ and the run stops there. Copy it to fuzz/findings/<name>/
# with a name that says what it found: the ordinary tests feed it again
# (FuzzFindings_test). Runs at the lowest priority, one job, as the machine may be shared.
# Needs clang and libclang-rt-dev (scripts/install-deps.sh --fuzz).
set -euo pipefail

if [ $# -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET|all SECONDS" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
all=$(cd "$root/fuzz/targets" && ls *.cpp | sed 's/\.cpp$//')
if [ "$1" = all ]; then
  targets=$all
elif echo "$all" | grep -qx "$1"; then
  targets=$1
else
  echo "unknown target '$1'; one of: all" $all >&2
  exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache >/dev/null &&
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTOVAMO_FUZZ=ON \
    -DTOVAMO_TESTS=OFF -DTOVAMO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
fi
nice -n 19 cmake --build "$build" -j2 --target $(for t in $targets; do echo "fuzz_$t"; done)

status=0
for t in $targets; do
  work="$build/fuzz-work/$t"
  failures="$build/fuzz-failures/$t"
  mkdir -p "$work" "$failures"
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  echo "== $t for $2 s"
  # A slow input (over 10 s) and one that takes more than 2 GB count as failures too.
  if ! nice -n 19 "$build/fuzz/fuzz_$t" -max_total_time="$2" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$failures/" "${dict[@]}" "$work" \
      "$root/fuzz/corpus/$t"; then
    echo "== $t found a failure: see $failures" >&2
    status=1
  fi
done
exit $status
