#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run. Idempotent:
# packages already present are left alone, and apt is only asked when something is missing.
# With --fuzz it adds what only the fuzz targets need (scripts/fuzz.sh): clang and its
# libFuzzer runtime.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # FFmpeg 5.1 headers; the program itself loads the libraries at run time.
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev libavdevice-dev
  libsqlite3-dev
  # Windows, and the preview player with what its tests need to give it a real window; a
  # session bus of its own for the test of the desktop notice.
  qt6-base-dev libx11-dev fontconfig mplayer xvfb xauth dbus-daemon
  # The disc authoring tools: the disc target tests hand every output to them as judges,
  # and disc images are made with them (genisoimage writes the DVD's UDF and ISO 9660 file
  # systems; xorriso reads images back in the tests).
  dvdauthor vcdimager genisoimage xorriso
  # Disc menus are drawn with these fonts (Latin, and CJK for names in Chinese or Japanese);
  # lsdvd reads the made DVD images back in the tests.
  fonts-dejavu-core fonts-wqy-microhei lsdvd
  # GNU parallel, for the test of the README's recipe that spreads conversions over machines.
  parallel
  # A comma-decimal locale, for the tests that prove option numbers ignore the locale.
  locales
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Generated once; the option parser tests run a pass under it when it is there.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  $sudo locale-gen >/dev/null
fi
