#!/usr/bin/env bash
# PNG, WebP, TIFF, HEIC and AVIF thumbnails: quorvane-thumb against vipsthumbnail in time per
# picture and quality, on pictures made from the photos in /usr/share/backgrounds (or the folder
# given). Builds quorvane-thumb and its modules in Release into build-bench/ (or
# $QUORVANE_BENCH_BUILD_DIR). FORMATS=png,webp picks formats (heic-t320: HEIC with a 320-pixel
# thumbnail inside, as phones write them); RUNS and SIZE as bench/thumbs.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BENCH_BUILD_DIR:-$root/build-bench}
folder=${1:-/usr/share/backgrounds}

"$root/scripts/setup.sh" mate-backgrounds libvips-tools imagemagick webp libheif-examples hyperfine python3-numpy python3-pil

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvane-thumb quorvane-decodefloor >/dev/null
exec /usr/bin/python3 "$root/bench/formats.py" --thumb "$build/batch/quorvane-thumb" \
  --floor "$build/bench/quorvane-decodefloor" \
  --size "${SIZE:-125}" --runs "${RUNS:-5}" --formats "${FORMATS:-png,webp,tif,heic,heic-t320,avif}" "$folder"
