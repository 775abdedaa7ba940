// Between Qt's pictures and the plain ones the test support writes and measures.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include "tests/support/images.h"
#include "tools/gif_writer.h"

namespace testsupport {

// The picture's colours; alpha is dropped.
RgbImage rgbImageOf(const QImage& image);

// An RGBA frame of the picture for tools::encodeGif; alpha below 128 becomes transparent.
tools::GifFrame gifFrameOf(const QImage& image);

// The mean colour of a rectangle of the picture.
QColor meanColor(const QImage& image, const QRect& rect);

}  // namespace testsupport
