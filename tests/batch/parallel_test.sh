#!/usr/bin/env bash
# The README's command for many machines, run as written but on this machine alone
# (--sshlogin :): over a few hundred pictures with awkward names, each thumbnail is listed once,
# each is made and byte-identical to a single process's, and a second run makes nothing.
#
#   parallel_test.sh README QUORVANE_THUMB SAMPLES_DIR
set -euo pipefail
readme=$1 thumb=$(realpath "$2") samples=$(realpath "$3")
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v parallel >/dev/null || { echo "GNU parallel is not installed: skipped"; exit 0; }

command=$(sed -n '/<!-- many-machines -->/,/<!-- \/many-machines -->/p' "$readme" |
  sed '/^<!--/d; /^```/d')
[ -n "$command" ] || fail "no command between the many-machines markers in $readme"
# This machine alone, and blocks small enough that the list is cut into many, between names.
local_command=$(sed 's/--sshlogin [^ ]*/--sshlogin :/; s/--block [^ ]*/--block 2k/' <<<"$command")
[[ $local_command == *"--block 2k"* ]] || fail "the command has no --block to cut the list with"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home  # GNU parallel's one-time notice, acknowledged
mkdir -p "$HOME/.parallel" && touch "$HOME/.parallel/will-cite"
mkdir -p "$work/bin" && ln -s "$thumb" "$work/bin/quorvane-thumb"
export PATH=$work/bin:$PATH

# A collection, and a copy of it for the single-process run.
mkdir -p "$work/a/PHOTOS/2019/sub" "$work/a/PHOTOS/2020"
for i in $(seq 1 100); do
  cp "$samples/tiny.jpg" "$work/a/PHOTOS/2019/p $i.jpg"
  cp "$samples/square.jpg" "$work/a/PHOTOS/2020/q$i.JPEG"
  cp "$samples/panorama.jpg" "$work/a/PHOTOS/2019/sub/r$i.jfif"
done
cp "$samples/banner.gif" "$work/a/PHOTOS/2020/new"$'\n'"line.gif"
cp "$samples/sticker.gif" "$work/a/PHOTOS/2020/caf"$'\xe9'".gif"
cp "$samples/portrait.jpg" "$work/a/PHOTOS/2019/it's \"quoted\".jpe"
cp -a "$work/a" "$work/b"
pictures=$(find "$work/a/PHOTOS" -type f -printf x | wc -c)  # not by lines: a name has one

cd "$work/a"
# Planned once each: a dry run lists every thumbnail exactly once.
listed=$(eval "${local_command/--skip-existing/--skip-existing -n}" | sort | uniq -c | sort -rn)
[ "$(head -1 <<<"$listed" | awk '{print $1}')" = 1 ] || fail "a thumbnail is planned twice"
eval "$local_command" || fail "the command failed"
made=$(find PHOTOS -name 'thumb_*' -printf x | wc -c)
[ "$made" = "$pictures" ] || fail "$made thumbnails of $pictures pictures"
again=$(eval "${local_command/--skip-existing/--skip-existing -n}" | wc -c)
[ "$again" = 0 ] || fail "a second run would make thumbnails again"

cd "$work/b" && "$thumb" -r -j1 PHOTOS || fail "the single process failed"
(cd "$work/a" && find PHOTOS -name 'thumb_*' -print0 | sort -z) > "$work/a.list"
(cd "$work/b" && find PHOTOS -name 'thumb_*' -print0 | sort -z) > "$work/b.list"
cmp -s "$work/a.list" "$work/b.list" || fail "the two runs made different thumbnails"
while IFS= read -r -d '' name; do
  cmp -s "$work/a/$name" "$work/b/$name" || fail "$name differs from the single process's"
done < "$work/a.list"
echo "many machines: $pictures pictures, $made thumbnails, identical to one process's; a rerun makes none"
