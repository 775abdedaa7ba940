// The decoders of the picture formats after JPEG and GIF, each on its format's library: PNG
// (libpng), WebP (libwebp), TIFF (libtiff), HEIF and AVIF (libheif). Each lives in a library of
// its own, so that a program links or loads only those it uses. Plain C++.
#pragma once

#include "platform/picture/picture.h"

namespace platform {

extern const FormatDecoder kPngDecoder;
extern const FormatDecoder kWebpDecoder;
extern const FormatDecoder kTiffDecoder;
extern const FormatDecoder kHeifDecoder;

// Installs all four in this process (the tests and the fuzzers; quorvane-thumb loads each as a
// module on the first picture of its format instead).
void installFormatDecoders();

}  // namespace platform
