#include "imaging/Helpers.h"

#include <cstring>

#include "imaging/IJL.h"
#include "imaging/cDIBSection.h"
#include "platform/base/runtime_error.h"
#include "platform/base/strconv.h"
#include "platform/dialogs/msgbox.h"

namespace {

constexpr std::int32_t kJpegQuality = 75;

// 32-bit signed arithmetic that raises Overflow (error 6) instead of wrapping.
std::int32_t checkedMultiply(std::int32_t a, std::int32_t b) {
  std::int32_t result = 0;
  if (__builtin_mul_overflow(a, b, &result)) platform::raiseError(platform::kErrOverflow);
  return result;
}

std::int32_t checkedAdd(std::int32_t a, std::int32_t b) {
  std::int32_t result = 0;
  if (__builtin_add_overflow(a, b, &result)) platform::raiseError(platform::kErrOverflow);
  return result;
}

std::int32_t checkedSubtract(std::int32_t a, std::int32_t b) {
  std::int32_t result = 0;
  if (__builtin_sub_overflow(a, b, &result)) platform::raiseError(platform::kErrOverflow);
  return result;
}

// Frees the library's record on every way out once ijlInit succeeded, a run-time error included.
class IjlRecordGuard final {
 public:
  explicit IjlRecordGuard(JPEG_CORE_PROPERTIES& record) : record_(record) {}
  ~IjlRecordGuard() { ijlFree(&record_); }
  IjlRecordGuard(const IjlRecordGuard&) = delete;
  IjlRecordGuard& operator=(const IjlRecordGuard&) = delete;

 private:
  JPEG_CORE_PROPERTIES& record_;
};

}  // namespace

bool SaveDibAsJpeg(const cDIBSection& dib, const std::string& fileName) {
  JPEG_CORE_PROPERTIES jcprops;
  std::memset(&jcprops, 0, sizeof jcprops);

  const int initCode = ijlInit(&jcprops);
  if (initCode != IJL_OK) {
    ReportJpegError("Failed to initialise the IJL library", initCode);
    return false;
  }
  std::string ansiFileName;  // outlives the record's use of it
  const IjlRecordGuard guard(jcprops);

  jcprops.DIBWidth = dib.dib_width();
  jcprops.DIBHeight = checkedSubtract(0, dib.dib_height());  // negative: rows stored bottom-up
  jcprops.DIBChannels = dib.dib_channels();
  if (jcprops.DIBChannels == 3) {
    jcprops.DIBColor = IJL_BGR;
    jcprops.JPGColor = IJL_YCBCR;
    jcprops.JPGChannels = 3;
    jcprops.JPGSubsampling = IJL_411;
  } else {
    jcprops.DIBColor = IJL_RGBA_FPX;
    jcprops.JPGColor = IJL_YCBCRA_FPX;
    jcprops.JPGChannels = 4;
    jcprops.JPGSubsampling = IJL_4114;
  }
  jcprops.DIBBytes = static_cast<std::uint8_t*>(dib.DIBSectionBitsPtr());
  jcprops.DIBPadBytes = DibPadBytes(jcprops.DIBWidth, jcprops.DIBChannels);
  ansiFileName = platform::StrConv(fileName, platform::vbFromUnicode);
  jcprops.JPGFile = ansiFileName.c_str();
  jcprops.JPGWidth = dib.dib_width();
  jcprops.JPGHeight = dib.dib_height();
  jcprops.jquality = kJpegQuality;

  const int writeCode = ijlWrite(&jcprops, IJL_JFILE_WRITEWHOLEIMAGE);
  if (writeCode != IJL_OK) {
    ReportJpegError("Failed to save to JPG", writeCode);
    return false;
  }
  return true;
}

void ReportJpegError(const std::string& message, std::int32_t code) {
  platform::MsgBox("IJL ERROR: [" + std::to_string(code) + "] - " + message,
                   platform::vbExclamation, "Intel(R) JPEG Library");
}

std::int32_t DibPadBytes(std::int32_t width, std::int32_t channels) {
  const std::int32_t rowBytes = checkedMultiply(width, channels);
  const std::int32_t rounded = checkedAdd(rowBytes, 3) & ~std::int32_t{3};
  return checkedSubtract(rounded, rowBytes);
}
