#!/usr/bin/env bash
# Starts the real program in an X server of its own (Xvfb) on a copy of the sample pictures,
# checks the window and the splash in a screenshot, then clicks a picture and "Create Thumbnail"
# the way a person would and checks the thumbnail and the confirmation.
#   window_test.sh QUORVANE_BINARY SAMPLES_FOLDER
set -euo pipefail
binary=$1
samples=$2
for tool in xvfb-run xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 0; }
done

work=$(mktemp -d /tmp/quorvane-window-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -r "$samples" "$work/pictures"
export QUORVANE_TEST_BINARY=$binary QUORVANE_TEST_WORK=$work

xvfb-run -a -s "-screen 0 800x600x24" bash -euo pipefail -c '
  unset QT_QPA_PLATFORM
  cd "$QUORVANE_TEST_WORK/pictures"
  "$QUORVANE_TEST_BINARY" & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  fail() { echo "FAIL: $*"; exit 1; }
  window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Quorvane$" | head -n 1)
  [ -n "$window" ] || fail "no window named Quorvane"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  echo "window $WIDTH x $HEIGHT at $X,$Y"
  [ "$WIDTH" = 297 ] && [ "$HEIGHT" = 257 ] || fail "client area is $WIDTH x $HEIGHT, not 297 x 257"
  mean() { convert "$QUORVANE_TEST_WORK/shot.png" -crop "$1x$2+$((X + $3))+$((Y + $4))" +repage \
             -colorspace gray -format "%[fx:mean]" info:; }
  # Waits (up to 10 s) until the screen shows what the awk condition on d and f asks for:
  # d is the mean grey of the top-left corner of the canvas, f that of the flare of the splash.
  await_screen() {
    for _ in $(seq 50); do
      import -window root "$QUORVANE_TEST_WORK/shot.png"
      d=$(mean 20 20 164 12)
      f=$(mean 4 4 244 44)
      awk -v d="$d" -v f="$f" "BEGIN { exit !($1) }" && return 0
      sleep 0.2
    done
    return 1
  }
  # The canvas starts at (160, 8) with a 2-pixel frame: the splash is dark with a light flare.
  await_screen "d < 0.2 && f > 0.6" || fail "the canvas does not show the splash ($d, $f)"
  echo "splash corner mean $d, flare mean $f"

  # Click the first picture (banner.gif): its sky replaces the splash. Then Create Thumbnail.
  xdotool mousemove $((X + 40)) $((Y + 160)) click 1
  await_screen "d > 0.4" || fail "the preview was not drawn ($d)"
  xdotool mousemove $((X + 224)) $((Y + 208)) click 1
  timeout 20 xdotool search --sync --onlyvisible --name "^Prompt$" >/dev/null ||
    fail "no confirmation box"
  [ -s thumb_banner.gif ] || fail "thumb_banner.gif was not written"
  xdotool key Return || true
  size=$(identify -format "%wx%h %[jpeg:sampling-factor]" thumb_banner.gif)
  echo "thumbnail: $size"
  [ "$size" = "125x63 2x2,1x1,1x1" ] || fail "thumbnail is $size"
  echo "PASS"
'
