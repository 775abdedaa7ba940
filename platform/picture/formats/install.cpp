#include "platform/picture/formats/formats.h"

namespace platform {

void installFormatDecoders() {
  setFormatDecoder(PictureFormat::kPng, &kPngDecoder);
  setFormatDecoder(PictureFormat::kWebp, &kWebpDecoder);
  setFormatDecoder(PictureFormat::kTiff, &kTiffDecoder);
  setFormatDecoder(PictureFormat::kHeif, &kHeifDecoder);
}

}  // namespace platform
