#include "tests/batch/test_pictures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "tools/gif_writer.h"
#include "tools/picture_art.h"

namespace fs = std::filesystem;

namespace batchtest {

TempFolder::TempFolder() {
  char pattern[] = "/tmp/quorvane-batch-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void writeSceneJpeg(const fs::path& path, int width, int height, unsigned seed, bool progressive) {
  const QImage scene = tools::drawScene(width, height, seed);
  if (!progressive) {
    tools::saveJpeg(scene, path.string(), 92);
    return;
  }
  const QImage rgb = scene.convertToFormat(QImage::Format_RGB888);
  std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(compressor.get(), rgb.constBits(), rgb.width(),
                                 static_cast<int>(rgb.bytesPerLine()), rgb.height(), TJPF_RGB,
                                 &jpeg, &size, TJSAMP_420, 92, TJFLAG_PROGRESSIVE);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
  if (result == 0) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg), static_cast<std::streamsize>(size));
  }
}

void writeSceneGif(const fs::path& path, int width, int height, bool transparentLeft) {
  const QImage rgba = tools::drawScene(width, height, 7).convertToFormat(QImage::Format_RGBA8888);
  tools::GifFrame frame{width, height, {}};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = rgba.constScanLine(y);
    frame.rgba.insert(frame.rgba.end(), row, row + width * 4);
    if (transparentLeft) {
      for (int x = 0; x < width / 2; ++x)
        frame.rgba[(static_cast<size_t>(y) * width + x) * 4 + 3] = 0;
    }
  }
  tools::writeFile(path.string(), tools::encodeGif({frame}));
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

JpegFacts jpegFacts(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = readBytes(path);
  JpegFacts facts;
  std::unique_ptr<void, int (*)(tjhandle)> decompressor(tjInitDecompress(), tjDestroy);
  int colourspace = 0;
  facts.valid = tjDecompressHeader3(decompressor.get(), bytes.data(), bytes.size(), &facts.width,
                                    &facts.height, &facts.subsampling, &colourspace) == 0;
  // The marker segments before the first scan.
  for (size_t i = 2; i + 4 <= bytes.size() && bytes[i] == 0xFF;) {
    const std::uint8_t marker = bytes[i + 1];
    if (marker == 0xDA) break;
    if (marker == 0xC2) facts.progressive = true;
    const bool jfif = marker == 0xE0 && i + 9 <= bytes.size() &&
                      std::equal(bytes.begin() + i + 4, bytes.begin() + i + 9, "JFIF");
    if (marker >= 0xE0 && marker <= 0xEF && !jfif) facts.hasAppOtherThanJfif = true;
    i += 2 + (static_cast<size_t>(bytes[i + 2]) << 8 | bytes[i + 3]);
  }
  return facts;
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace batchtest
