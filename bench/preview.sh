#!/usr/bin/env bash
# Preview benchmark on the photos in /usr/share/backgrounds (or the folder given): our preview
# time against djpeg -scale 1/8, peak memory, and luma PSNR against a float reference.
# Builds the bench tool in Release into build-bench/ (or $QUORVANE_BENCH_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BENCH_BUILD_DIR:-$root/build-bench}
folder=${1:-/usr/share/backgrounds}

"$root/scripts/setup.sh" mate-backgrounds libjpeg-turbo-progs time python3-numpy python3-pil

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvane-previewbench >/dev/null
exec /usr/bin/python3 "$root/bench/preview.py" --bench "$build/bench/quorvane-previewbench" \
  --size "${SIZE:-125}" --runs "${RUNS:-5}" "$folder"
