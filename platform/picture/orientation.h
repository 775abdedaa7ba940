// EXIF orientations: how a JPEG's stored pixels are turned to stand upright.
#pragma once

#include "platform/picture/picture.h"

namespace platform {

// The picture as seen after undoing an EXIF orientation (1-8; anything else is 1): rotates and
// mirrors an image drawn in the file's stored orientation so that it is upright.
RgbaImage orientUpright(RgbaImage stored, int orientation);

// True for the orientations that swap width and height (5-8).
bool swapsAxes(int orientation);

}  // namespace platform
