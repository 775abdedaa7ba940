// What the picture writers share: a failed step is an exception naming it.
#pragma once

namespace tools {

// Throws std::runtime_error "cannot write the picture: WHAT" unless `holds`.
void require(bool holds, const char* what);

}  // namespace tools
