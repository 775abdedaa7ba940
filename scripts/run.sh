#!/usr/bin/env bash
# Builds Quorvane and starts it on a folder of sample pictures that the build makes
# (or on the folder given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
folder=${1:-$build/samples}
cd "$folder"
exec "$build/app/quorvane"
