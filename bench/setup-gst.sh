#!/bin/sh
# setup-gst.sh [DIR] - readies the GStreamer peer pipeline for quality_bench and
# stages_bench: installs the GStreamer packages, copies the shared peer folder to DIR
# (default build/gst-peer), lets its script take the video bit rate from GST_CONV_BITRATE
# (bits/s; unset: the target's own rate) and builds its preload shim there.
#   SHARED=/path/to/bench  the folder to copy (default: shared/bench beside the checkout)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build/gst-peer}
shared=${SHARED:-}
for d in "$here/../shared/bench" "$here/../../shared/bench"; do
    [ -n "$shared" ] || [ ! -f "$d/gst-conv.sh" ] || shared=$d
done
[ -f "$shared/gst-conv.sh" ] || { echo "setup-gst.sh: no gst-conv.sh in $shared" >&2; exit 1; }

apt_get() { if [ "$(id -u)" = 0 ]; then apt-get "$@"; else sudo apt-get "$@"; fi; }
apt_get install -y --no-install-recommends gstreamer1.0-tools gstreamer1.0-libav \
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
    pkg-config libavcodec-dev make gcc

mkdir -p "$dir"
cp "$shared"/* "$dir"/
# The rate follows the target's table entry, so that a rate from the environment wins.
sed -i 's/^if \[ "\$norm" = pal \]; then h=\$hp; else h=\$hn; fi$/&\
b=${GST_CONV_BITRATE:-$b}/' "$dir/gst-conv.sh"
grep -q GST_CONV_BITRATE "$dir/gst-conv.sh" || { echo "setup-gst.sh: cannot patch gst-conv.sh" >&2; exit 1; }
make -C "$dir"
echo "GStreamer peer ready in $dir (quality_bench --gst $dir)"
