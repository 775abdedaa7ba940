#!/usr/bin/env bash
# Installs the Debian packages Quorvane needs to build, test and run, and any more named as
# arguments (the benchmarks' tools). Idempotent and quiet when everything is already there; needs
# root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-qpa-plugins            # the window and its controls, GIF and BMP reading
  libturbojpeg0-dev libjpeg62-turbo-dev   # JPEG encoding and scaled decoding
  liblcms2-dev                            # colour profiles converted to sRGB
  libpng-dev libwebp-dev libtiff-dev      # PNG, WebP and TIFF (quorvane-thumb)
  libisal-dev                             # a large PNG's image data inflated ahead (ISA-L)
  libheif-dev libde265-dev libdav1d-dev   # HEIC and AVIF: HEVC and AV1 decoded by our own
                                          # decoders for libheif (quorvane-thumb)
  libspng-dev                             # PNG writing for the tests (a second library)
  libgtest-dev                            # tests
  clang-14 libclang-rt-14-dev             # fuzz targets (libFuzzer and the sanitizers)
  clang-format clang-tidy                 # style checks (scripts/lint.sh)
  xvfb xauth xdotool x11-utils imagemagick  # a real window in tests and screenshots
  bubblewrap parallel                     # the thumbnailer's sandbox, many machines (tests)
  locales                                 # a comma-decimal locale the tests run under too
  fonts-liberation2 fonts-dejavu-core     # Times New Roman's metric twin for the "Size" label
  help2man                                # quorvane-thumb's manual, from its --help
  dpkg-dev file lintian man-db            # the Debian package and its checks
  appstream desktop-file-utils            # the metainfo's and the menu entry's validators
)

packages+=("$@")

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The tests run a second time in a locale whose decimal separator is a comma.
make_locale() {
  locale -a 2>/dev/null | grep -qix 'de_DE.utf8' && return 0
  echo "Making the de_DE.UTF-8 locale" >&2
  $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  $sudo locale-gen >/dev/null
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  make_locale
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
make_locale
