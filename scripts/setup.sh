#!/usr/bin/env bash
# Installs the Debian packages Quorvane needs to build, test and run. Idempotent and quiet when
# everything is already there; needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-qpa-plugins            # the window and its controls, GIF and BMP reading
  libturbojpeg0-dev libjpeg62-turbo-dev   # JPEG encoding and scaled decoding
  libgtest-dev                            # tests
  clang-14 libclang-rt-14-dev             # fuzz targets (libFuzzer and the sanitizers)
  clang-format clang-tidy                 # style checks (scripts/lint.sh)
  xvfb xauth xdotool x11-utils imagemagick  # a real window in tests and screenshots
  bubblewrap parallel                     # the thumbnailer's sandbox, many machines (tests)
  fonts-liberation2 fonts-dejavu-core     # Times New Roman's metric twin for the "Size" label
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
