// What the colour files share of Little CMS: the program's context, which keeps Little CMS's
// messages to itself, and a profile handle that closes itself. For platform/picture only.
#pragma once

#include <lcms2.h>

#include <memory>

#include "platform/picture/colour_described.h"

namespace platform {

cmsContext lcmsContext();

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// The profile of a described space for pixels of `input` (grey or RGB); null when the numbers
// describe no usable space.
Profile describedSpace(const Chromaticities& space, TransferCurve curve, ColourPixels input);

}  // namespace platform
