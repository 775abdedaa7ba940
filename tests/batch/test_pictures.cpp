#include "tests/batch/test_pictures.h"

#include "tests/support/picture_writers.h"
#include "tests/support/qt/qt_images.h"
#include "tests/support/temp_folder.h"
#include "tools/gif_writer.h"
#include "tools/picture_art.h"

namespace batchtest {

void writeSceneJpeg(const std::filesystem::path& path, int width, int height, unsigned seed,
                    bool progressive) {
  testsupport::writeJpeg(path, testsupport::rgbImageOf(tools::drawScene(width, height, seed)),
                         {testsupport::Sampling::k420, 92, progressive});
}

void writeSceneGif(const std::filesystem::path& path, int width, int height, bool transparentLeft) {
  tools::GifFrame frame = testsupport::gifFrameOf(tools::drawScene(width, height, 7));
  if (transparentLeft) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width / 2; ++x) {
        frame.rgba[(static_cast<size_t>(y) * width + x) * 4 + 3] = 0;
      }
    }
  }
  testsupport::writeBytes(path, tools::encodeGif({frame}));
}

}  // namespace batchtest
