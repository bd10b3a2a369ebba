#!/usr/bin/env bash
# Remakes docs/screenshot.png, the README's picture of the converter window in the middle of
# a conversion, under a virtual X display. Usage: scripts/screenshot.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j"$(nproc)" --target tovamo-screenshot
xvfb-run -a -s "-screen 0 1366x768x24" "$build/app/tovamo-screenshot" docs/screenshot.png
echo "docs/screenshot.png written"
