#!/usr/bin/env bash
# Installs what is missing, builds, and opens the converter window. Without a display it
# says so and shows the product working anyway: tovamo-convert converts a generated sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/app/tovamo "$@"
fi
echo "No display to open the window on: converting a generated sample with tovamo-convert instead."
mkdir -p converted
exec ./build/app/tovamo-convert -o converted
