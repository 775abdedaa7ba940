// Private to the picture reader: what a loaded picture's header said, for its decoders.
#pragma once

#include <memory>

#include "platform/picture/colour.h"
#include "platform/picture/gif_layout.h"
#include "platform/picture/picture.h"

namespace platform {

struct EncodedPicture::Facts {
  int storedWidth = 0;  // as the file stores the pixels
  int storedHeight = 0;
  int orientation = 1;  // EXIF 1-8 (JPEG); 1 for GIF
  bool progressive = false;
  GifLayout gif;  // GIF only
  // Turns the decoded pixels (a GIF's palettes) into sRGB; null when they are sRGB already.
  std::shared_ptr<const ColourConversion> colour;
};

// Raises 481 with a description that names the size and the limit.
[[noreturn]] void raisePictureTooLarge(int width, int height);

}  // namespace platform
