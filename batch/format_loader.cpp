// Loads each format's decoder module on the first picture of its format.
#include <array>
#include <mutex>
#include <string>

#include "batch/format_module.h"
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

template <PictureFormat kFormat>
platform::FormatHeader readHeader(std::span<const std::uint8_t> bytes) {
  const FormatModule& module = formatModule<kFormat>();
  QuorvaneFormatHeader header{};
  std::array<char, 512> message{};
  const int number =
      module.readHeader(bytes.data(), bytes.size(), &header, message.data(), message.size());
  if (number != 0) platform::raiseError(number, message.data());
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
  std::array<char, 512> message{};
  const int number = module.render(bytes.data(), bytes.size(), width, height, image.pixels.data(),
                                   message.data(), message.size());
  if (number != 0) platform::raiseError(number, message.data());
  warning = message.data();
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
