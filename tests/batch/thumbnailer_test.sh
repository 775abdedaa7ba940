#!/usr/bin/env bash
# The desktop's thumbnailer entry, run as a file manager runs it: installed, its Exec line with
# the file manager's substitutions (%s size, %i input, %o output in a private folder), inside a
# bubblewrap sandbox that sees only /usr, the input and the output folder; with and without /proc.
#
#   thumbnailer_test.sh ENTRY BUILD_DIR INSTALL_PREFIX SAMPLES_DIR
set -euo pipefail
entry=$1 build=$2 prefix=$3 samples=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v bwrap >/dev/null || { echo "bwrap is not installed: skipped"; exit 0; }
case "$prefix" in
  /usr | /usr/) echo "installed into /usr itself: the sandbox cannot stand in for it; skipped"; exit 0 ;;
esac

# The entry: the keys a file manager reads.
grep -qx '\[Thumbnailer Entry\]' "$entry" || fail "no [Thumbnailer Entry] group"
grep -qx 'TryExec=quorvane-thumb' "$entry" || fail "TryExec"
grep -qx 'MimeType=image/jpeg;image/gif;' "$entry" || fail "MimeType"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ -n "$exec_line" ] || fail "no Exec line"

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null
[ -x "$stage/bin/quorvane-thumb" ] || fail "quorvane-thumb was not installed"
mkdir -p "$work/in" "$work/cache"
cp "$samples/IMG_0002.JPG" "$work/in/a photo.jpg"
cp "$samples/banner.gif" "$work/in/moving.gif"
cp "$samples/tiny.jpg" "$work/in/tiny.jpg"
chmod -R a-w "$work/in"

# Runs the Exec line with the substitutions made, in the sandbox. Extra bwrap arguments first.
thumbnail() {
  local size=$1 input=$2 output=$3 chdir=$4; shift 4
  local line=${exec_line//%s/$size}
  line=${line//%o/$(printf '%q' "$output")}
  line=${line//%i/$(printf '%q' "$input")}
  # shellcheck disable=SC2086
  eval "set -- $line \"\$@\""
  bwrap --ro-bind /usr /usr --ro-bind "$stage" "$prefix" \
    --symlink usr/lib /lib --symlink usr/lib64 /lib64 --symlink usr/bin /bin \
    --dev /dev --ro-bind "$work/in" "$work/in" --bind "$work/cache" "$work/cache" \
    --chdir "$chdir" --setenv PATH "$prefix/bin:/usr/bin" --setenv ASAN_OPTIONS detect_leaks=0 \
    --unsetenv LD_PRELOAD --unsetenv QT_QPA_PLATFORM --unsetenv DISPLAY \
    "${extra[@]}" "$@"
}

size_of() {  # the JPEG's width x height, from its SOF marker
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:2] == b"\xff\xd8", "not a JPEG"
i = 2
while i < len(data):
    marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
    if marker in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack(">HH", data[i + 5:i + 9])
        print(f"{w}x{h}")
        break
    i += 2 + length
PY
}

# A sanitizer's runtime cannot start without /proc: such a build is tried with it only.
procs="yes no"
# (ldd's whole output first: with pipefail, grep -q leaving early could fail the pipe.)
if [[ $(ldd "$stage/bin/quorvane-thumb") == *libasan* ]]; then
  echo "built with AddressSanitizer, whose runtime needs /proc: the sandbox without it is skipped"
  procs="yes"
fi
for proc in $procs; do
  extra=()
  [ $proc = yes ] && extra=(--proc /proc)
  for size in 128 256 512 1024; do
    out=$work/cache/$size-$proc.png  # file managers name the output .png; the bytes are JPEG
    thumbnail "$size" "$work/in/a photo.jpg" "$out" /
  done
  # A relative input, from the input's folder; a GIF, which needs the module.
  thumbnail 128 moving.gif "$work/cache/gif-$proc.png" "$work/in"
  [ -s "$work/cache/gif-$proc.png" ] || fail "no thumbnail of the GIF (proc: $proc)"
  thumbnail 256 tiny.jpg "$work/cache/tiny-$proc.png" "$work/in"
  [ "$(size_of "$work/cache/tiny-$proc.png")" = "$(size_of "$work/in/tiny.jpg")" ] ||
    fail "--no-enlarge: tiny.jpg was enlarged to $(size_of "$work/cache/tiny-$proc.png")"
done
# The size is the longer side, up to the picture's own.
natural=$(size_of "$work/in/a photo.jpg")
for size in 128 256 512 1024; do
  got=$(size_of "$work/cache/$size-yes.png")
  [[ $procs != *no* ]] || [ "$got" = "$(size_of "$work/cache/$size-no.png")" ] ||
    fail "size $size differs without /proc"
  longer=$(echo "$got" | tr x '\n' | sort -n | tail -1)
  nat_longer=$(echo "$natural" | tr x '\n' | sort -n | tail -1)
  expected=$(( size < nat_longer ? size : nat_longer ))
  [ "$longer" = "$expected" ] || fail "size $size gave $got (picture $natural)"
done
ls -A "$work/cache" | grep -q '\.tmp$' && fail "a temporary file was left in the cache"
echo "thumbnailer entry: every size, both inputs, JPEG and GIF, sandboxes with /proc: $procs: ok"
