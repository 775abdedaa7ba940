// WebP on libwebp: decoded straight to no less than twice the drawn size by its own scaling, which
// works row by row as it decodes; an animation's first frame on its canvas.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/decoded_rows.h"
#include "platform/picture/exif.h"
#include "platform/picture/formats/formats.h"

namespace platform {
namespace {

const char* describe(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      raiseError(kErrOutOfMemory);
    case VP8_STATUS_INVALID_PARAM:
      return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR:
      return "damaged data";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "a feature it does not support";
    case VP8_STATUS_SUSPENDED:
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "the file ends early";
    default:
      return "cannot be decoded";
  }
}

void check(VP8StatusCode status) {
  if (status != VP8_STATUS_OK) raiseDecodeError("WebP", describe(status));
}

WebPBitstreamFeatures features(std::span<const std::uint8_t> webp) {
  WebPBitstreamFeatures features{};
  check(WebPGetFeatures(webp.data(), webp.size(), &features));
  if (features.width < 1 || features.height < 1) raiseDecodeError("WebP", "no picture");
  return features;
}

// The chunk ("ICCP", "EXIF") of an extended file whose flag says it is there, empty when it has
// none. Points into the file's bytes.
std::span<const std::uint8_t> extendedChunk(std::span<const std::uint8_t> webp, const char* name,
                                            std::uint32_t flag) {
  const WebPData data{webp.data(), webp.size()};
  std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demuxer(WebPDemux(&data),
                                                                   WebPDemuxDelete);
  if (!demuxer || !(WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS) & flag)) return {};
  WebPChunkIterator chunk{};
  std::span<const std::uint8_t> found;
  if (WebPDemuxGetChunk(demuxer.get(), name, 1, &chunk)) {
    found = {chunk.chunk.bytes, chunk.chunk.size};
  }
  WebPDemuxReleaseChunkIterator(&chunk);
  return found;
}

std::span<const std::uint8_t> iccProfile(std::span<const std::uint8_t> webp) {
  return extendedChunk(webp, "ICCP", ICCP_FLAG);
}

FormatHeader readWebpHeader(std::span<const std::uint8_t> webp) {
  const WebPBitstreamFeatures header = features(webp);
  return {header.width, header.height,
          exifBlockOrientation(extendedChunk(webp, "EXIF", EXIF_FLAG))};
}

// An animation: its first frame as the decoder lays it on the canvas (transparent elsewhere).
RgbaImage renderFirstFrame(std::span<const std::uint8_t> webp, int width, int height) {
  const WebPData data{webp.data(), webp.size()};
  WebPAnimDecoderOptions options{};
  if (!WebPAnimDecoderOptionsInit(&options)) raiseDecodeError("WebP", "library mismatch");
  options.color_mode = MODE_RGBA;
  std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(
      WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
  WebPAnimInfo info{};
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)) {
    raiseDecodeError("WebP", "damaged animation");
  }
  if (std::int64_t{info.canvas_width} * info.canvas_height > kMaxPicturePixels) {
    raiseDecodeError("WebP", "over the pixel limit");
  }
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) {
    raiseDecodeError("WebP", "damaged first frame");
  }
  const int canvasWidth = static_cast<int>(info.canvas_width);
  const int canvasHeight = static_cast<int>(info.canvas_height);
  DecodedRows rows(SourcePixels::kRgbaStraight, canvasWidth, canvasHeight, width, height,
                   iccProfile(webp));
  for (int y = 0; y < canvasHeight; ++y)
    rows.addRow(canvas + static_cast<size_t>(y) * canvasWidth * 4);
  return rows.finish();
}

// The size to decode at: no less than twice the drawn size on both sides, never over the
// picture's own.
std::pair<int, int> decodedSize(int pictureWidth, int pictureHeight, int width, int height) {
  const double scale = std::max(2.0 * width / pictureWidth, 2.0 * height / pictureHeight);
  if (scale >= 1.0) return {pictureWidth, pictureHeight};
  return {std::clamp(static_cast<int>(std::ceil(pictureWidth * scale)), 1, pictureWidth),
          std::clamp(static_cast<int>(std::ceil(pictureHeight * scale)), 1, pictureHeight)};
}

RgbaImage renderWebp(std::span<const std::uint8_t> webp, int width, int height, std::string&) {
  try {
    WebPDecoderConfig config{};
    if (!WebPInitDecoderConfig(&config)) raiseDecodeError("WebP", "library mismatch");
    check(WebPGetFeatures(webp.data(), webp.size(), &config.input));
    const WebPBitstreamFeatures& header = config.input;
    if (header.width < 1 || header.height < 1 ||
        std::int64_t{header.width} * header.height > kMaxPicturePixels) {
      raiseDecodeError("WebP", "no picture, or one over the pixel limit");
    }
    if (header.has_animation) return renderFirstFrame(webp, width, height);
    const auto [decodedWidth, decodedHeight] =
        decodedSize(header.width, header.height, width, height);
    if (decodedWidth != header.width || decodedHeight != header.height) {
      config.options.use_scaling = 1;
      config.options.scaled_width = decodedWidth;
      config.options.scaled_height = decodedHeight;
    }
    config.options.use_threads = 1;
    config.output.colorspace = header.has_alpha ? MODE_RGBA : MODE_RGB;
    const VP8StatusCode status = WebPDecode(webp.data(), webp.size(), &config);
    std::unique_ptr<WebPDecBuffer, decltype(&WebPFreeDecBuffer)> output(&config.output,
                                                                        WebPFreeDecBuffer);
    check(status);
    const WebPRGBABuffer& pixels = config.output.u.RGBA;
    if (config.output.width != decodedWidth || config.output.height != decodedHeight) {
      raiseDecodeError("WebP", "decoded at the wrong size");
    }
    DecodedRows rows(header.has_alpha ? SourcePixels::kRgbaStraight : SourcePixels::kRgb,
                     decodedWidth, decodedHeight, width, height, iccProfile(webp));
    for (int y = 0; y < decodedHeight; ++y)
      rows.addRow(pixels.rgba + static_cast<size_t>(y) * pixels.stride);
    return rows.finish();
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

}  // namespace

const FormatDecoder kWebpDecoder{readWebpHeader, renderWebp};

}  // namespace platform
