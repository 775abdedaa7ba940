#!/usr/bin/env bash
# Thumbnail benchmark on the photos in /usr/share/backgrounds (or the folder given): quorvane-thumb
# against vipsthumbnail, ImageMagick, GraphicsMagick and djpeg -scale 1/8, in time, throughput,
# memory and quality. Builds quorvane-thumb in Release into build-bench/ (or
# $QUORVANE_BENCH_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BENCH_BUILD_DIR:-$root/build-bench}
folder=${1:-/usr/share/backgrounds}

"$root/scripts/setup.sh" mate-backgrounds libvips-tools imagemagick graphicsmagick libjpeg-turbo-progs hyperfine time python3-numpy python3-pil

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvane-thumb slow_sync >/dev/null
exec /usr/bin/python3 "$root/bench/thumbs.py" --thumb "$build/batch/quorvane-thumb" \
  --slow-sync "$build/bench/slow_sync.so" \
  --size "${SIZE:-125}" --runs "${RUNS:-5}" "$folder"
