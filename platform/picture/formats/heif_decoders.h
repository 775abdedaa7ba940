// This program's decoders for libheif, above libheif's own:
// - HEVC (HEIC) on libde265 on as many threads as the process may use. libheif's own libde265
//   decoder runs one, which leaves a picture coded in rows that can be decoded side by side
//   (wavefronts, which x265 writes by default) or in tiles to a single core.
// - AV1 (AVIF) on dav1d, set up for one still picture.
// Both hand their pictures over as heif_picture.h says: the pixels, colours and errors of
// libheif's own decoders, or RGB planes of their own while an RgbHandover asks for them.
#pragma once

struct heif_decoder_plugin;

namespace platform {

// The decoders' names for heif_decoding_options::decoder_id; libheif's own are "libde265" and
// "dav1d".
inline constexpr const char* kThreadedHevcDecoderId = "libde265-threads";
inline constexpr const char* kStillAv1DecoderId = "dav1d-still";

// The decoders, for heif_register_decoder_plugin() (once each, after heif_init()).
const heif_decoder_plugin* threadedHevcDecoder();
const heif_decoder_plugin* stillAv1Decoder();

}  // namespace platform
