// Pictures the batch tests make, and what they check in a thumbnail file.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace batchtest {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempFolder final {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A colourful scene (tools::drawScene) as a baseline JPEG, or a progressive one.
void writeSceneJpeg(const std::filesystem::path& path, int width, int height, unsigned seed = 1,
                    bool progressive = false);
// A GIF of the scene; with `transparentLeft`, the left half of the frame is transparent.
void writeSceneGif(const std::filesystem::path& path, int width, int height,
                   bool transparentLeft = false);

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);

// What a thumbnail file's header says.
struct JpegFacts {
  bool valid = false;
  int width = 0;
  int height = 0;
  int subsampling = -1;  // TJSAMP_*
  bool progressive = false;
  bool hasAppOtherThanJfif = false;  // EXIF, ICC or any other metadata segment
};
JpegFacts jpegFacts(const std::filesystem::path& path);

// The names in a folder, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace batchtest
