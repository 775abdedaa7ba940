// Writing a DIB section to a JPEG file through the JPEG library, and reporting the library's
// failures to the user.
#pragma once

#include <cstdint>
#include <string>

class cDIBSection;

// Encodes the whole DIB section (read only, kept alive by the caller for the call) into the JPEG
// file fileName at quality 75, chroma halved both ways. True when the file was written; false
// after exactly one error box. Shows nothing on success. Raises run-time error 6 when a row's
// length leaves the 32-bit range.
bool SaveDibAsJpeg(const cDIBSection& dib, const std::string& fileName);

// Shows "IJL ERROR: [code] - message" in a modal warning box titled "Intel(R) JPEG Library".
void ReportJpegError(const std::string& message, std::int32_t code);

// Bytes after the pixels of a DIB row up to the next multiple of 4 (0 to 3). Raises run-time
// error 6 when width * channels, or that plus 3, leaves the 32-bit range.
std::int32_t DibPadBytes(std::int32_t width, std::int32_t channels);
