#!/usr/bin/env bash
# Configures and builds into build/ (or $QUORVANE_BUILD_DIR) with the packages in place.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
# Only configure's own messages are kept back; its warnings and errors show.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${QUORVANE_BUILD_TYPE:-RelWithDebInfo} "$@" \
  | { grep -v '^-- ' || true; }
cmake --build "$build" -j"$(nproc)"
