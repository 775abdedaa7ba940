// Text conversions for file names handed to the graphics and JPEG layers.
#pragma once

#include <string>

namespace platform {

inline constexpr int vbFromUnicode = 128;

// The program's text is UTF-8 and so is the file system's: the bytes pass through unchanged, so a
// name with any characters reaches the file system intact. std::string keeps the closing zero.
std::string StrConv(const std::string& text, int conversion);

}  // namespace platform
