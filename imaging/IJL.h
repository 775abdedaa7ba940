// The JPEG library's record, constants and functions, under the names the imaging code uses.
// Declarations only.
#pragma once

#include "platform/jpeglib/ijl15.h"

using platform::IJL_411;
using platform::IJL_4114;
using platform::IJL_BGR;
using platform::IJL_JFILE_WRITEWHOLEIMAGE;
using platform::IJL_OK;
using platform::IJL_RGBA_FPX;
using platform::IJL_YCBCR;
using platform::IJL_YCBCRA_FPX;
using platform::ijlFree;
using platform::ijlInit;
using platform::ijlWrite;
using platform::JPEG_CORE_PROPERTIES;
