// libjpeg reports errors by calling error_exit, which must not return. Here it longjmps back to
// runJpegGuarded, the only place that calls setjmp; guarded() turns that into RuntimeError 481.
#pragma once

#include <csetjmp>
#include <type_traits>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

#include "platform/base/runtime_error.h"

namespace platform {

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  long warnings = 0;                        // corrupt or missing data that libjpeg worked around
  int firstWarningCode = 0;                 // libjpeg's message code of the first of them
  char firstWarning[JMSG_LENGTH_MAX] = {};  // and its text
};

// Forgets the warnings of an earlier picture.
void clearWarnings(JpegErrorManager& manager);

// Makes `manager` the error manager of `cinfo` (before jpeg_create_decompress).
void installErrorManager(j_common_ptr cinfo, JpegErrorManager& manager);

// Runs body(context); false when libjpeg raised an error (its text is in manager.message).
bool runJpegGuarded(JpegErrorManager& manager, void (*body)(void*), void* context);

// Ends the guarded call in progress with an error of our own (from a libjpeg callback).
[[noreturn]] void failJpeg(j_common_ptr cinfo, const char* message);

// Runs libjpeg calls. The body must not own objects with destructors: an error skips its frame.
template <class Body>
void guarded(JpegErrorManager& manager, Body&& body) {
  using Callable = std::remove_reference_t<Body>;
  const auto call = [](void* context) { (*static_cast<Callable*>(context))(); };
  if (!runJpegGuarded(manager, call, &body)) raiseError(kErrInvalidPicture);
}

}  // namespace platform
