// A decoder plugin's picture handed over to libheif. libheif 1.15 turns every YCbCr picture into
// full-size RGB planes, on one thread, with floating point for each sample: a fifth of an AVIF's
// decoding time. While an RgbHandover is alive, this program's HEVC and AV1 decoders
// (heif_decoders.h) turn 8-bit colour pictures into RGB themselves, in fixed point, with the
// matrix and range libheif would use; libheif then keeps the planes as they are.
#pragma once

#include <libheif/heif.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// What the decoders and the hand-over return to libheif for success, and when memory runs out.
inline constexpr heif_error kPluginOk = {heif_error_Ok, heif_suberror_Unspecified, "Success"};
inline constexpr heif_error kPluginOutOfMemory = {heif_error_Memory_allocation_error,
                                                  heif_suberror_Unspecified, "Out of memory"};

// How a picture's YCbCr samples code its colours: the matrix coefficients (ITU-T H.273 codes)
// and whether the samples use their whole range.
struct YcbcrCoding {
  int matrix = 2;  // unspecified
  bool fullRange = true;
};

// The YCbCr coding an image's nclx colour box gives; none when it has no such box.
std::optional<YcbcrCoding> fileCoding(const heif_image_handle* handle);

// The colours a stream names (ITU-T H.273 codes).
struct StreamColours {
  int primaries = 2;  // unspecified
  int transfer = 2;
  YcbcrCoding coding;
};

// While one is alive, 8-bit colour pictures are handed over as RGB, turned with the stream's
// coding; `file` is the coding the file's nclx colour box gives, if it has one: where it differs
// from the stream's, libheif turns the picture itself. Only for images whose pictures are all
// colour: an alpha plane must reach libheif as it was coded. One at a time, made by the thread
// that then calls heif_decode_image (libheif's own threads may decode under it).
class RgbHandover final {
 public:
  explicit RgbHandover(std::optional<YcbcrCoding> file);
  ~RgbHandover();
  RgbHandover(const RgbHandover&) = delete;
  RgbHandover& operator=(const RgbHandover&) = delete;
};

// A decoded picture as a decoder holds it: Y, Cb and Cr planes (Y alone for grey), Cb and Cr
// subsampled as `chroma` says, their sizes rounded up. Samples above 8 bits take two bytes,
// little-endian.
struct PlanarPicture {
  const std::uint8_t* planes[3];
  std::ptrdiff_t strides[3];
  int width;
  int height;
  int bits;
  heif_chroma chroma;  // heif_chroma_monochrome, _420, _422 or _444
};

// The size of plane `plane` (0 for Y) of a picture of `chroma` and the given size.
int planeWidth(heif_chroma chroma, int plane, int width);
int planeHeight(heif_chroma chroma, int plane, int height);

// The most pixels a coded picture may have: one over it is an error, whatever size the file
// declares (a damaged or crafted stream can code a far larger picture). kMaxPicturePixels until
// changed (the tests and the HEIF fuzz target lower it).
void setCodedPixelLimit(std::int64_t pixels);
std::int64_t codedPixelLimit();

// `picture` as a new heif_image in `out`, with `colours` as its nclx profile: RGB 4:4:4 when an
// RgbHandover asks for it and the picture is 8-bit colour of a matrix turned here, else its
// planes as they are (YCbCr or grey), as libheif's own decoders make them. A colour code libheif
// does not know is a warning on the image (`strict`: an error, and no image). A picture over the
// coded pixel limit is an error.
heif_error handOver(const PlanarPicture& picture, const StreamColours& colours, bool strict,
                    heif_image** out);

}  // namespace platform
