#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each of them.
#
#   fuzz/run.sh [SECONDS_PER_TARGET]   fuzz every target that long (default 600)
#   fuzz/run.sh --smoke                CI: replay every regression file, then 30 s a target
#
# Seeds: the decoder corpus (../shared/corpus, read in place), the small PNG, WebP, TIFF and HEIF
# pictures quorvane-formatseeds writes into build-fuzz/seeds/, and tests/fuzz/regressions/<target>/.
# An input that crashes, hangs or runs out of memory is kept as a regression file in
# tests/fuzz/regressions/<target>/; the run then fails. Environment: QUORVANE_FUZZ_BUILD_DIR,
# QUORVANE_CORPUS, QUORVANE_FUZZ_TARGETS (names to run), QUORVANE_FUZZ_JOBS (targets at once, 1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${QUORVANE_CORPUS:-$root/../shared/corpus}
regressions=$root/tests/fuzz/regressions
jobs=${QUORVANE_FUZZ_JOBS:-1}

smoke=0
seconds=600
case "${1:-}" in
  --smoke) smoke=1; seconds=30 ;;
  '') ;;
  *[!0-9]* | 0) echo "usage: fuzz/run.sh [SECONDS_PER_TARGET] | --smoke" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac

# target | seed folders in the corpus or the written seeds, or absolute ones (the system's colour
# profiles) | -max_len | -timeout (s) | locales (each
# gets a share). HEIF's timeout is long: a small file can code a picture of tens of megapixels,
# which takes a second or two to decode and draw, and about two minutes under the sanitizers.
table="
fuzz_bmp|bmp|65536|20|
fuzz_picture_header|jpeg gif|65536|10|
fuzz_picture_render|jpeg gif|65536|30|
fuzz_colour|/usr/share/color/icc /usr/share/color/icc/colord|65536|30|
fuzz_numbers||64|5|C.UTF-8 de_DE.UTF-8
fuzz_png|png|65536|30|
fuzz_webp|webp|65536|30|
fuzz_tiff|tiff|65536|30|
fuzz_heif|heif|65536|240|
"
all_targets=$(awk -F'|' 'NF > 1 { print $1 }' <<<"$table")
targets=${QUORVANE_FUZZ_TARGETS:-$all_targets}

"$root/scripts/setup.sh" icc-profiles-free colord-data  # colour profiles: fuzz_colour's seeds
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DQUORVANE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets quorvane-formatseeds >/dev/null
rm -rf "$build/seeds"
# A writer, not under test: the encoders' own leaks (x265) are not its findings.
ASAN_OPTIONS=detect_leaks=0 "$build/tools/quorvane-formatseeds" "$build/seeds"

[ -d "$corpus" ] || echo "No decoder corpus at $corpus: seeding from the regression files only." >&2
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan_suppressions.txt}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# Moves what the fuzzer kept (crash-, timeout-, oom-, leak- files) into the regression folder.
keep_findings() {
  local target=$1 artifacts=$2 found=0 file
  mkdir -p "$regressions/$target"
  for file in "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*; do
    [ -f "$file" ] || continue
    mv "$file" "$regressions/$target/"
    echo "$target: new regression file tests/fuzz/regressions/$target/$(basename "$file")" >&2
    found=1
  done
  return $found
}

run_target() {
  local target=$1 folders=$2 max_len=$3 timeout=$4 locales=$5
  local binary=$build/fuzz/$target artifacts=$build/artifacts/$target log_dir=$build/logs
  local seeds=() folder file status=0
  mkdir -p "$artifacts" "$log_dir" "$build/corpus/$target" "$regressions/$target"
  for folder in $folders; do
    if [[ $folder == /* ]]; then
      if [ -d "$folder" ]; then seeds+=("$folder"); fi
      continue
    fi
    if [ -d "$corpus/$folder" ]; then seeds+=("$corpus/$folder"); fi
    if [ -d "$build/seeds/$folder" ]; then seeds+=("$build/seeds/$folder"); fi
  done
  seeds+=("$regressions/$target")
  local options=(-max_len="$max_len" -timeout="$timeout" -rss_limit_mb=2560 -malloc_limit_mb=2048
                 -artifact_prefix="$artifacts/" -print_final_stats=1)
  [ -f "$root/fuzz/${target#fuzz_}.dict" ] && options+=(-dict="$root/fuzz/${target#fuzz_}.dict")
  [ -n "$locales" ] || locales=C.UTF-8
  local count share
  count=$(wc -w <<<"$locales")
  share=$(( (seconds + count - 1) / count ))

  if [ $smoke -eq 1 ]; then
    local replay=()
    for file in "$regressions/$target"/*; do [ -f "$file" ] && replay+=("$file"); done
    for locale in $locales; do
      if [ ${#replay[@]} -gt 0 ] && ! LC_ALL=$locale "$binary" "${options[@]}" "${replay[@]}" \
           >"$log_dir/$target-replay.log" 2>&1; then
        echo "$target: a regression file fails again ($locale); see $log_dir/$target-replay.log" >&2
        status=1
      fi
    done
  fi

  local locale log summary
  for locale in $locales; do
    log=$log_dir/$target-$locale-$(date +%Y%m%d-%H%M%S).log
    if [ $smoke -eq 1 ]; then
      # A fresh corpus: the smoke run tries the seeds, not what earlier runs found.
      local scratch
      scratch=$(mktemp -d)
      LC_ALL=$locale "$binary" "${options[@]}" -max_total_time="$share" "$scratch" "${seeds[@]}" \
        >"$log" 2>&1 || status=1
      rm -rf "$scratch"
    else
      LC_ALL=$locale "$binary" "${options[@]}" -max_total_time="$share" -fork=1 -ignore_crashes=1 \
        -ignore_timeouts=1 -ignore_ooms=1 "$build/corpus/$target" "${seeds[@]}" >"$log" 2>&1 ||
        status=1
    fi
    summary=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | cut -c1-100)
    echo "$target ($locale, ${share} s): ${summary:-no statistics, see $log}"
    printf '%s\t%s\t%s\t%s\t%s\n' "$(date -Iseconds)" "$target" "$locale" "$share" \
      "$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')" >>"$build/fuzz-history.tsv"
  done
  keep_findings "$target" "$artifacts" || status=1
  [ $status -eq 0 ] || echo "$target: FAILED (logs in $log_dir)" >&2
  return $status
}

failed=0
running=0
wanted=" $(tr '\n' ' ' <<<"$targets") "
while IFS='|' read -r target folders max_len timeout locales; do
  [[ -n $target && $wanted == *" $target "* ]] || continue
  run_target "$target" "$folders" "$max_len" "$timeout" "$locales" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done <<<"$table"
while [ $running -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
[ $failed -eq 0 ] && echo "All fuzz targets passed." || echo "Some fuzz targets failed." >&2
exit $failed
