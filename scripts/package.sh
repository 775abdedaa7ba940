#!/usr/bin/env bash
# Builds Quorvane in Release for /usr into build-package/ (or $QUORVANE_PACKAGE_DIR) with Debian's
# hardening flags, and makes the Debian package; prints its path. Install it with
#   apt install ./build-package/quorvane_1.00_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVANE_PACKAGE_DIR:-$root/build-package}
"$root/scripts/setup.sh"
# The compiler and linker flags Debian builds its own packages with (stack protector, fortified
# functions, read-only relocations, bind now).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
# Only configure's own messages are kept back; its warnings and errors show.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF | { grep -v '^-- ' || true; }
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/quorvane_*.deb
