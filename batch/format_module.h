// The decoder modules of PNG, WebP, TIFF and HEIF/AVIF for the batch command: each format's
// library is loaded with its module on the first picture of that format, so that a run of JPEGs
// starts as fast as if they did not exist. Each module has the same two C entry points; plain C
// types cross, as the module and the program each have their own C++ library.
#pragma once

#include <cstddef>
#include <cstdint>

// A picture's header as the module read it (platform::FormatHeader).
struct QuorvaneFormatHeader {
  int width;
  int height;
  int orientation;
};

// Both return 0, or the run-time error number with its description in message (NUL-terminated,
// cut to messageSize); no exception leaves them. quorvane_read_header fills `header`;
// quorvane_render draws the picture as stored at exactly width x height into rgba (width * height
// * 4 bytes, straight alpha) and, on success, leaves in message what it had to work around ("" for
// a sound picture).
extern "C" int quorvane_read_header(const std::uint8_t* bytes, std::size_t size,
                                    QuorvaneFormatHeader* header, char* message,
                                    std::size_t messageSize);
extern "C" int quorvane_render(const std::uint8_t* bytes, std::size_t size, int width, int height,
                               std::uint8_t* rgba, char* message, std::size_t messageSize);
inline constexpr char kReadHeaderEntry[] = "quorvane_read_header";
inline constexpr char kRenderEntry[] = "quorvane_render";

namespace thumb {

// Makes the picture reader read PNG, WebP, TIFF and HEIF through the modules
// (quorvane-thumb-png.so and so on), each loaded on the first picture of its format; a missing
// module makes every picture of its format fail with error 481 and say why.
void useFormatModules();

}  // namespace thumb
