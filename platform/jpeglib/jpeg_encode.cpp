#include "platform/jpeglib/jpeg_encode.h"

#include <turbojpeg.h>

namespace platform {

void CompressorDestroy::operator()(void* handle) const { tjDestroy(handle); }

void JpegBufferFree::operator()(unsigned char* buffer) const { tjFree(buffer); }

JpegCompressor makeJpegCompressor() { return JpegCompressor(tjInitCompress()); }

bool encodeJpeg(void* compressor, const BgrPixels& pixels, int quality, JpegBytes& out,
                std::string* reason) {
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  const int status =
      tjCompress2(compressor, pixels.data, pixels.width, pixels.pitch, pixels.height,
                  pixels.layout == BgrLayout::kBgrx ? TJPF_BGRX : TJPF_BGR, &jpeg, &jpegSize,
                  TJSAMP_420, quality, pixels.bottomUp ? TJFLAG_BOTTOMUP : 0);
  out.data.reset(jpeg);  // owned whatever the call returned
  out.size = status == 0 ? jpegSize : 0;
  if (status != 0 && reason != nullptr) *reason = tjGetErrorStr2(compressor);
  return status == 0;
}

}  // namespace platform
