// The JPEG library: the published working record JPEG_CORE_PROPERTIES and the three operations
// ijlInit, ijlWrite and ijlFree, encoding with libjpeg-turbo. Plain C++, no toolkit types.
//
// Protocol: fill a record with zero bytes, ijlInit, set the DIB and JPG fields, ijlWrite, then
// ijlFree whatever ijlWrite returned. ijlWrite reads the pixels at DIBBytes but never keeps or
// releases them; JPGFile must stay valid for the call. A record is used by one thread at a time.
#pragma once

#include <cstdint>

namespace platform {

// Result codes: 0 is success, every failure has a negative code of its own.
inline constexpr int IJL_OK = 0;
inline constexpr int IJL_INVALID_JPEG_PROPERTIES = -1;  // no record, or ijlInit did not run
inline constexpr int IJL_UNSUPPORTED_IOTYPE = -2;       // an operation other than the below
inline constexpr int IJL_INVALID_DIB_BYTES = -3;        // DIBBytes is null: no pixel memory
inline constexpr int IJL_INVALID_DIB_SIZE = -4;         // sizes or padding disagree or are too big
inline constexpr int IJL_UNSUPPORTED_BYTES_PER_PIXEL = -5;  // DIBChannels other than 3 or 4
inline constexpr int IJL_UNSUPPORTED_COLOR = -6;  // colours or JPGChannels not a pair below
inline constexpr int IJL_UNSUPPORTED_SUBSAMPLING = -7;
inline constexpr int IJL_INVALID_QUALITY = -8;   // jquality outside 0 to 100
inline constexpr int IJL_INVALID_FILENAME = -9;  // JPGFile null or empty
inline constexpr int IJL_ERR_FILECREATE = -10;   // the output file cannot be created
inline constexpr int IJL_ERR_FILEWRITE = -11;    // writing the output file failed
inline constexpr int IJL_ERR_DISKFULL = -12;     // no space left (or quota exceeded)
inline constexpr int IJL_MEMORY_ERROR = -13;
inline constexpr int IJL_ENCODER_ERROR = -14;  // the encoder failed otherwise

// Colour spaces (DIBColor, JPGColor).
inline constexpr std::int32_t IJL_BGR = 2;
inline constexpr std::int32_t IJL_YCBCR = 3;
inline constexpr std::int32_t IJL_RGBA_FPX = 5;
inline constexpr std::int32_t IJL_YCBCRA_FPX = 6;

// Chroma sampling (JPGSubsampling).
inline constexpr std::int32_t IJL_411 = 1;   // Y 2x2, Cb and Cr 1x1
inline constexpr std::int32_t IJL_4114 = 3;  // the same with a fourth component at full size

// Operations of ijlWrite.
inline constexpr int IJL_JFILE_WRITEWHOLEIMAGE = 8;

// The library's own state inside the record; callers leave it alone.
struct JPEG_PROPERTIES {
  std::uint32_t state;  // set by ijlInit, cleared by ijlFree
  void* encoder;        // the compressor lent to this record between ijlInit and ijlFree
};

// The working record, with the published field names in the published order. Pointers are the
// machine's own; every integer is 32 bits.
struct JPEG_CORE_PROPERTIES {
  std::int32_t UseJPEGPROPERTIES;  // not used
  std::uint8_t* DIBBytes;          // first byte of the pixel memory
  std::int32_t DIBWidth;           // pixels per row
  std::int32_t DIBHeight;          // rows; negative: the first row in memory is the bottom row
  std::int32_t DIBPadBytes;        // bytes after the pixels of each row, up to a multiple of 4
  std::int32_t DIBChannels;        // bytes per pixel
  std::int32_t DIBColor;
  std::int32_t DIBSubsampling;  // not used
  const char* JPGFile;          // NUL-terminated UTF-8 path of the file to write
  std::uint8_t* JPGBytes;       // not used: the library writes files only
  std::int32_t JPGSizeBytes;    // not used
  std::int32_t JPGWidth;
  std::int32_t JPGHeight;
  std::int32_t JPGChannels;
  std::int32_t JPGColor;
  std::int32_t JPGSubsampling;
  std::int32_t JPGThumbWidth;     // not used
  std::int32_t JPGThumbHeight;    // not used
  std::int32_t cconversion_reqd;  // not used
  std::int32_t upsampling_reqd;   // not used
  std::int32_t jquality;          // 0 (worst) to 100 (best)
  JPEG_PROPERTIES jprops;
};

// Prepares the record: sets every field to its default (3-byte blue-green-red DIB pixels, a
// YCbCr JPEG with IJL_411 sampling, quality 75) and lends it a compressor. Call it on a record
// that is not in use; a record that was prepared must be given to ijlFree first.
int ijlInit(JPEG_CORE_PROPERTIES* jcprops);

// With IJL_JFILE_WRITEWHOLEIMAGE: encodes the DIB described by the record into a baseline JFIF
// JPEG file named by JPGFile. Every field is checked before a pixel is read. Accepted:
// - 3 bytes per pixel, blue, green, red: DIBColor IJL_BGR, JPGColor IJL_YCBCR, JPGChannels 3,
//   JPGSubsampling IJL_411.
// - 4 bytes per pixel: DIBColor IJL_RGBA_FPX, JPGColor IJL_YCBCRA_FPX, JPGChannels 4,
//   JPGSubsampling IJL_4114. The pixels are read in the DIB's own order, blue, green, red and an
//   unused byte; the fourth byte holds no opacity, so it is dropped and the file is the same
//   three-component YCbCr JPEG (a four-component one is shown as CMYK by common decoders).
// Chroma is halved both ways. DIBPadBytes must round each row up to a multiple of 4 bytes;
// JPGWidth and JPGHeight must equal the DIB's width and row count (at most 65500 each).
// The file is written whole or not at all; on failure an earlier file of that name is untouched.
int ijlWrite(JPEG_CORE_PROPERTIES* jcprops, int iotype);

// Returns the record's compressor and marks it unprepared. A second call does nothing.
int ijlFree(JPEG_CORE_PROPERTIES* jcprops);

}  // namespace platform
