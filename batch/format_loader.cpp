// Loads each format's decoder module on the first picture of its format.
#include <array>
#include <functional>
#include <mutex>
#include <string>

#include "batch/format_module.h"
#include "batch/isolated.h"
#include "batch/module_loader.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace thumb {
namespace {

using platform::PictureFormat;
using ReadHeader = decltype(&quorvane_read_header);
using Render = decltype(&quorvane_render);

struct FormatModule {
  ReadHeader readHeader = nullptr;
  Render render = nullptr;
  std::string error;  // why it could not be loaded
};

// The module's name: quorvane-thumb-png.so and so on.
constexpr const char* moduleName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return "png";
    case PictureFormat::kWebp:
      return "webp";
    case PictureFormat::kTiff:
      return "tiff";
    default:
      return "heif";
  }
}

template <PictureFormat kFormat>
const FormatModule& formatModule() {
  static std::once_flag once;
  static FormatModule module;
  std::call_once(once, [] {
    const LoadedModule loaded = loadModule(moduleName(kFormat));
    module.readHeader = reinterpret_cast<ReadHeader>(moduleEntry(loaded, kReadHeaderEntry));
    module.render = reinterpret_cast<Render>(moduleEntry(loaded, kRenderEntry));
    module.error = loaded.error;
    if ((module.readHeader == nullptr || module.render == nullptr) && module.error.empty()) {
      module.error = std::string("the ") + moduleName(kFormat) + " module has no decoder";
    }
  });
  if (module.readHeader == nullptr || module.render == nullptr) {
    platform::raiseError(
        platform::kErrInvalidPicture,
        std::string(platform::formatName(kFormat)) + " decoding unavailable: " + module.error);
  }
  return module;
}

// libheif and libde265 end the process on some damaged files (assertions): HEIF is decoded in a
// child process, whose death is then this picture's failure.
constexpr bool isolates(PictureFormat format) { return format == PictureFormat::kHeif; }

// Runs the module's work here, or in a child process for the formats that need one, and raises
// its error. `payload` (payloadBytes) is what the work fills.
template <PictureFormat kFormat>
void runModule(std::size_t payloadBytes, std::uint8_t* payload,
               const std::function<int(std::uint8_t*, char*, std::size_t)>& work,
               std::string* warning = nullptr) {
  std::array<char, 512> message{};
  int number = 0;
  if (isolates(kFormat)) {
    const IsolatedOutcome outcome = runIsolated(payloadBytes, work, payload);
    if (outcome.died) {
      platform::raiseError(platform::kErrInvalidPicture,
                           std::string("Invalid picture (") + platform::formatName(kFormat) +
                               ": its decoder stopped on it: " + outcome.message + ")");
    }
    number = outcome.number;
    outcome.message.copy(message.data(), message.size() - 1);
  } else {
    number = work(payload, message.data(), message.size());
  }
  if (number != 0) platform::raiseError(number, message.data());
  if (warning != nullptr) *warning = message.data();
}

template <PictureFormat kFormat>
platform::FormatHeader readHeader(std::span<const std::uint8_t> bytes) {
  const FormatModule& module = formatModule<kFormat>();
  QuorvaneFormatHeader header{};
  runModule<kFormat>(sizeof header, reinterpret_cast<std::uint8_t*>(&header),
                     [&](std::uint8_t* payload, char* message, std::size_t messageSize) {
                       return module.readHeader(bytes.data(), bytes.size(),
                                                reinterpret_cast<QuorvaneFormatHeader*>(payload),
                                                message, messageSize);
                     });
  return {header.width, header.height, header.orientation};
}

template <PictureFormat kFormat>
platform::RgbaImage render(std::span<const std::uint8_t> bytes, int width, int height,
                           std::string& warning) {
  const FormatModule& module = formatModule<kFormat>();
  platform::RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  runModule<kFormat>(
      image.pixels.size(), image.pixels.data(),
      [&](std::uint8_t* payload, char* message, std::size_t messageSize) {
        return module.render(bytes.data(), bytes.size(), width, height, payload, message,
                             messageSize);
      },
      &warning);
  return image;
}

template <PictureFormat kFormat>
constexpr platform::FormatDecoder kThroughModule{readHeader<kFormat>, render<kFormat>};

}  // namespace

void useFormatModules() {
  platform::setFormatDecoder(PictureFormat::kPng, &kThroughModule<PictureFormat::kPng>);
  platform::setFormatDecoder(PictureFormat::kWebp, &kThroughModule<PictureFormat::kWebp>);
  platform::setFormatDecoder(PictureFormat::kTiff, &kThroughModule<PictureFormat::kTiff>);
  platform::setFormatDecoder(PictureFormat::kHeif, &kThroughModule<PictureFormat::kHeif>);
}

}  // namespace thumb
