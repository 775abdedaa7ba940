// Installs Qt's GIF reader as the picture reader's GIF decoder, when the program starts.
#include "platform/gif_decode.h"
#include "platform/picture.h"

namespace platform {
namespace {

const bool kInstalled = (setGifRenderer(renderGif), true);

}  // namespace
}  // namespace platform
