#include "tools/icc_embed.h"

#include <algorithm>
#include <string_view>

#include "tools/gif_writer.h"

namespace tools {

std::vector<std::uint8_t> withIccProfile(const std::vector<std::uint8_t>& jpeg,
                                         const std::vector<std::uint8_t>& profile, int markers,
                                         std::vector<int> sequence) {
  static constexpr char kSignature[] = "ICC_PROFILE";  // with its terminating zero
  if (sequence.empty()) {
    for (int i = 1; i <= markers; ++i) sequence.push_back(i);
  }
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  const size_t chunk = (profile.size() + markers - 1) / markers;
  for (size_t i = 0; i < sequence.size(); ++i) {
    const size_t index = static_cast<size_t>(sequence[i] - 1);
    const size_t begin = std::min(profile.size(), index * chunk);
    const size_t end = std::min(profile.size(), begin + chunk);
    const size_t length = 2 + sizeof kSignature + 2 + (end - begin);
    out.insert(out.end(), {0xFF, 0xE2, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length & 0xFF)});
    out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
    out.push_back(static_cast<std::uint8_t>(sequence[i]));
    out.push_back(static_cast<std::uint8_t>(markers));
    out.insert(out.end(), profile.begin() + static_cast<std::ptrdiff_t>(begin),
               profile.begin() + static_cast<std::ptrdiff_t>(end));
  }
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

std::vector<std::uint8_t> gifWithIccProfile(const std::vector<std::uint8_t>& gif,
                                            const std::vector<std::uint8_t>& profile) {
  const size_t paletteEnd = 13 + ((gif[10] & 0x80) != 0 ? size_t{3} << ((gif[10] & 7) + 1) : 0);
  std::vector<std::uint8_t> extension = {0x21, 0xFF, 11};
  for (const char c : std::string_view("ICCRGBG1012"))
    extension.push_back(static_cast<std::uint8_t>(c));
  appendSubBlocks(extension, profile);
  std::vector<std::uint8_t> out(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd));
  out.insert(out.end(), extension.begin(), extension.end());
  out.insert(out.end(), gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd), gif.end());
  return out;
}

}  // namespace tools
