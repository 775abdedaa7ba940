// An ICC colour profile put into a picture file as a colour-managed writer puts it: a JPEG's APP2
// "ICC_PROFILE" markers, a GIF's "ICCRGBG1012" application extension. For the tests and the
// colour fuzzer.
#pragma once

#include <cstdint>
#include <vector>

namespace tools {

// The JPEG with the profile in `markers` APP2 "ICC_PROFILE" markers of about equal length (a
// marker holds at most 65519 bytes of it: the caller asks for enough), right after its SOI marker.
// `sequence` gives each marker's sequence number (1-based, in order, when empty): a test can leave
// one out or repeat one.
std::vector<std::uint8_t> withIccProfile(const std::vector<std::uint8_t>& jpeg,
                                         const std::vector<std::uint8_t>& profile, int markers = 1,
                                         std::vector<int> sequence = {});

// The GIF with an "ICCRGBG1012" application extension holding the profile, after its palette.
std::vector<std::uint8_t> gifWithIccProfile(const std::vector<std::uint8_t>& gif,
                                            const std::vector<std::uint8_t>& profile);

}  // namespace tools
