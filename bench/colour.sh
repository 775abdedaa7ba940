#!/usr/bin/env bash
# Colour benchmark on the JPEG photos in /usr/share/backgrounds (or the folder given): thumbnails
# of photos converted to Adobe RGB, ProPhoto RGB and Display P3 (profile embedded) against the
# truth in sRGB, for quorvane-thumb, vipsthumbnail and ImageMagick, and quorvane-thumb's time on
# them against untagged photos. Builds quorvane-thumb in Release into build-bench/ (or
# $QUORVANE_BENCH_BUILD_DIR) and the Display P3 profile with Little CMS (bench/make_p3.c).
# PHOTOS=6 SIZE=125 RUNS=5; --verbose adds a row per photo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BENCH_BUILD_DIR:-$root/build-bench}
verbose=()
if [ "${1:-}" = "--verbose" ]; then verbose=(--verbose); shift; fi
folder=${1:-/usr/share/backgrounds}

"$root/scripts/setup.sh" mate-backgrounds libvips-tools imagemagick libjpeg-turbo-progs \
  liblcms2-dev icc-profiles-free colord-data python3-numpy python3-pil

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvane-thumb >/dev/null
mkdir -p "$build/bench"
cc -O2 -o "$build/bench/make_p3" "$root/bench/make_p3.c" -llcms2
"$build/bench/make_p3" "$build/bench/DisplayP3.icc"
exec /usr/bin/python3 "$root/bench/colour.py" --thumb "$build/batch/quorvane-thumb" \
  --p3 "$build/bench/DisplayP3.icc" --size "${SIZE:-125}" --runs "${RUNS:-5}" \
  --photos "${PHOTOS:-6}" "${verbose[@]}" "$folder"
