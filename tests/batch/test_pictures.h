// The pictures the batch tests make: colourful scenes (tools::drawScene) as JPEG and GIF files.
#pragma once

#include <filesystem>

namespace batchtest {

// The scene as a 4:2:0 JPEG at quality 92, baseline or progressive.
void writeSceneJpeg(const std::filesystem::path& path, int width, int height, unsigned seed = 1,
                    bool progressive = false);
// A GIF of the scene; with `transparentLeft`, the left half of the frame is transparent.
void writeSceneGif(const std::filesystem::path& path, int width, int height,
                   bool transparentLeft = false);

}  // namespace batchtest
