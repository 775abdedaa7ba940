// One of the formats after JPEG and GIF (FUZZ_FORMAT: PNG, WebP, TIFF or HEIF), from any bytes:
// its header read (a sensible size and orientation, or error 481), then, for a picture cheap
// enough, drawn with the longer side at 1 to 200 pixels (chosen by the input): the size asked, or
// error 481. Only that format's decoder is installed. HEIF inputs go through a child first (see
// survivesInChild).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/formats/heif_picture.h"
#include "platform/picture/picture.h"

namespace {

using namespace platform;

constexpr PictureFormat kFormat = PictureFormat::FUZZ_FORMAT;
// Drawing costs time in proportion to the pixels decoded; the limits themselves are tested by the
// unit tests. Small pictures keep the fuzzer exploring.
constexpr std::int64_t kMaxDrawnPixels = std::int64_t{1} << 22;
// quorvane-thumb's decoding child may take 1.5 GiB more than it starts with (batch/isolated.cpp).
constexpr long kMaxChildKilobytes = 1536L * 1024;

const FormatDecoder& decoder() {
  switch (kFormat) {
    case PictureFormat::kPng:
      return kPngDecoder;
    case PictureFormat::kWebp:
      return kWebpDecoder;
    case PictureFormat::kTiff:
      return kTiffDecoder;
    default:
      return kHeifDecoder;
  }
}

void checkError(const RuntimeError& error) {
  fuzz::check(error.number() == kErrInvalidPicture || error.number() == kErrOutOfMemory,
              "a picture that cannot be read or drawn is error 481");
}

void readAndDraw(const std::uint8_t* data, std::size_t size);

// libheif and libde265 stop the process with an assertion on some damaged files; quorvane-thumb
// decodes HEIF in a child process for that (batch/isolated.h). Here each HEIF input is first
// read and drawn in a child: one that a library's assertion stops, or that makes libheif take more
// memory than the program lets its decoding child have, is left out; anything else that ends the
// child early is a finding, reported with what the child said.
bool survivesInChild(const std::uint8_t* data, std::size_t size) {
  int errors[2];
  if (::pipe(errors) != 0) return true;
  const pid_t child = ::fork();
  if (child < 0) return true;
  if (child == 0) {
    ::dup2(errors[1], STDERR_FILENO);
    std::signal(SIGABRT,
                SIG_DFL);  // an assertion ends the child by the signal, not libFuzzer's exit
    readAndDraw(data, size);
    ::_exit(0);
  }
  ::close(errors[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t got; (got = ::read(errors[0], buffer, sizeof buffer)) > 0;) {
    said.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(errors[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  if (usage.ru_maxrss > kMaxChildKilobytes) return false;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  const bool libraryAssertion = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT &&
                                said.find("Assertion `") != std::string::npos &&
                                said.find("fuzz check failed") == std::string::npos;
  if (libraryAssertion) return false;
  std::fputs(said.c_str(), stderr);
  fuzz::check(false, "reading and drawing the HEIF in a child ended it");
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setFormatDecoder(kFormat, &decoder());
  // A few hundred bytes of HEVC or AV1 can code a picture of tens of megapixels, whatever size the
  // file declares: held to what is drawn here, each is refused in a blink, not drawn for seconds.
  if (kFormat == PictureFormat::kHeif) setCodedPixelLimit(kMaxDrawnPixels);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kFormat == PictureFormat::kHeif && !survivesInChild(data, size)) return 0;
  readAndDraw(data, size);
  return 0;
}

namespace {

void readAndDraw(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<const EncodedPicture> picture;
  try {
    picture = loadPictureFromBytes(std::vector<std::uint8_t>(data, data + size));
  } catch (const RuntimeError& error) {
    checkError(error);
    return;
  }
  const PictureInfo& info = picture->info();
  if (info.format != kFormat) return;  // a JPEG or GIF: their own targets fuzz them
  fuzz::check(info.width >= 1 && info.height >= 1, "a picture has a size");
  fuzz::check(std::int64_t{info.width} * info.height <= kMaxPicturePixels,
              "the pixel limit holds from the header");
  if (std::int64_t{info.width} * info.height > kMaxDrawnPixels) return;
  const int longer = 1 + static_cast<int>(fuzz::hashOf(data, size) % 200);
  const bool wide = info.width >= info.height;
  const double ratio = wide ? static_cast<double>(info.height) / info.width
                            : static_cast<double>(info.width) / info.height;
  const int shorter = std::max(1, static_cast<int>(std::lround(longer * ratio)));
  const int width = wide ? longer : shorter;
  const int height = wide ? shorter : longer;
  try {
    const RgbaImage image = renderPicture(*picture, width, height);
    fuzz::check(image.width == width && image.height == height, "drawn at the size asked");
    fuzz::check(image.pixels.size() == static_cast<std::size_t>(width) * height * 4,
                "four bytes a pixel");
  } catch (const RuntimeError& error) {
    checkError(error);
  }
}

}  // namespace
