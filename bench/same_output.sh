#!/usr/bin/env bash
# Whether two builds of quorvane-thumb write the same bytes: both make thumbnails of every picture
# of the decoder corpus (../shared/corpus, or $QUORVANE_CORPUS) and of the sample pictures, at
# sizes 60, 125 and 175, and every file is compared with cmp.
#
#   bench/same_output.sh OLD_QUORVANE_THUMB NEW_QUORVANE_THUMB [SAMPLES_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(realpath "$1") new=$(realpath "$2")
samples=${3:-$root/build/samples}
corpus=${QUORVANE_CORPUS:-$root/../shared/corpus}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Copies of the pictures (the thumbnails go beside them), named by their path in the corpus.
mkdir -p "$work/pictures"
(cd "$corpus" && find jpeg gif -type f) | while IFS= read -r file; do
  cp "$corpus/$file" "$work/pictures/${file//\//__}"
done
cp "$samples"/* "$work/pictures/"

make_all() {  # make_all THUMB OUT
  local size
  for size in 60 125 175; do
    mkdir -p "$2/$size"
    cp "$work/pictures"/* "$2/$size/"
    # File arguments, not --files-from, so that builds older than that option compare too.
    (cd "$2/$size" && find . -type f -print0 >"$work/list" &&
      xargs -0 -a "$work/list" "$1" -s "$size" >/dev/null 2>&1 || true)
    find "$2/$size" -type f ! -name 'thumb_*' -delete
  done
}
make_all "$old" "$work/old"
make_all "$new" "$work/new"
made=$(find "$work/old" -type f | wc -l)
if diff -r "$work/old" "$work/new" >/dev/null; then
  echo "same output: $made thumbnails, byte for byte"
else
  # diff's own status (1: they differ) is not the script's failure yet.
  differing=$(diff -rq "$work/old" "$work/new" | tee "$work/differences" | wc -l) || true
  head -20 "$work/differences"
  echo "DIFFERENT output: $differing of $made thumbnails" >&2
  exit 1
fi
