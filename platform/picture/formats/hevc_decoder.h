// HEVC (HEIC) pictures decoded by libde265 on as many threads as the process may use. libheif's
// own libde265 decoder runs one, which leaves a picture coded in rows that can be decoded side by
// side (wavefronts, which x265 writes by default) or in tiles to a single core. The pixels, colours
// and errors are those of libheif's own decoder.
#pragma once

#include <cstdint>

namespace platform {

// The decoder's name for heif_decoding_options::decoder_id; libheif's own is "libde265".
inline constexpr const char* kThreadedHevcDecoderId = "libde265-threads";

// Makes libheif decode HEVC with this decoder from now on. Call once, after heif_init().
void registerThreadedHevcDecoder();

// The most pixels a coded picture may have: one over it is an error, whatever size the file
// declares. kMaxPicturePixels until changed (the tests lower it).
void setCodedPixelLimit(std::int64_t pixels);

}  // namespace platform
