#!/usr/bin/env bash
# Style checks: clang-format over every C++ file (the project's .clang-format) and clang-tidy
# (.clang-tidy) over every source file, both with warnings as errors. Uses the build in build/ (or
# $QUORVANE_BUILD_DIR), which scripts/build.sh makes, for the compile commands.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BUILD_DIR:-$root/build}
cd "$root"
"$root/scripts/setup.sh"

mapfile -t files < <(git ls-files '*.cpp' '*.h')
echo "clang-format: ${#files[@]} files"
clang-format --dry-run -Werror "${files[@]}"

cmake -S "$root" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null  # the generated Qt sources tidy reads
mapfile -t sources < <(git ls-files '*.cpp' | grep -v '^fuzz/')
echo "clang-tidy: ${#sources[@]} files"
run-clang-tidy -quiet -p "$build" -j"$(nproc)" "${sources[@]/#/$root/}" >"$build/clang-tidy.log" 2>&1 || {
  grep -E '(warning|error):' "$build/clang-tidy.log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u >&2
  echo "clang-tidy found problems (whole log: $build/clang-tidy.log)" >&2
  exit 1
}
echo "style checks passed"
