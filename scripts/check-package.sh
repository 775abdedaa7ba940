#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian finds no error, the
# menu entry and the metainfo pass their validators, and the programs unpacked from it into a
# temporary root work there: quorvane-thumb thumbnails a JPEG and a GIF (so the GIF module is found
# where the package puts it), and the manuals read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$("$root/scripts/package.sh" | tail -n 1)
build=$(dirname "$deb")
echo "package: $deb"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Errors fail; warnings and notes are shown.
lintian --fail-on error --display-info "$deb" || fail "lintian found errors"

work=$(mktemp -d /tmp/quorvane-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
id=io.github.quorvane.Quorvane

desktop-file-validate "$usr/share/applications/$id.desktop" || fail "the menu entry is not valid"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo is not valid"
# The metainfo together with the menu entry and icons it names.
appstreamcli validate-tree --no-net "$work/root" || fail "the metainfo does not fit the package"
for size in 32 48 64 128 256; do
  icon=$usr/share/icons/hicolor/${size}x$size/apps/quorvane.png
  file "$icon" | grep -q "PNG image data, $size x $size" || fail "no $size x $size icon"
done
if [ -f "$root/batch/quorvane.thumbnailer" ]; then
  cmp "$root/batch/quorvane.thumbnailer" "$usr/share/thumbnailers/quorvane.thumbnailer" ||
    fail "the thumbnailer entry is not installed"
fi

# Both programs find every library they need.
for program in quorvane quorvane-thumb; do
  ! ldd "$usr/bin/$program" | grep "not found" || fail "$program misses a library"
done

# A JPEG and a GIF from the build's samples, in a folder of their own.
mkdir "$work/pictures"
cp "$build/samples/portrait.jpg" "$build/samples/banner.gif" "$work/pictures/"
(cd / && "$usr/bin/quorvane-thumb" "$work/pictures") || fail "quorvane-thumb failed"
for name in portrait.jpg banner.gif; do
  file "$work/pictures/thumb_$name" | grep -q "JPEG image data" || fail "no JPEG thumbnail of $name"
done

# The manuals read without a formatting warning.
for page in quorvane-thumb quorvane; do
  manual=$usr/share/man/man1/$page.1.gz
  warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  # The page read whole first: with pipefail, grep -q leaving early could fail the pipe.
  text=$(MANWIDTH=80 man -l "$manual")
  grep -q "^NAME" <<<"$text" || fail "$page.1 does not read"
done
text=$(MANWIDTH=80 man -l "$usr/share/man/man1/quorvane-thumb.1.gz")
grep -q -- "--skip-existing" <<<"$text" || fail "quorvane-thumb.1 does not hold the options"
echo "package checks passed"
