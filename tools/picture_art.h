// Drawing and JPEG encoding shared by the project's picture generators.
#pragma once

#include <QImage>
#include <string>

namespace tools {

// Baseline JFIF JPEG, 4:2:0, at the given quality. False when the file cannot be written.
bool saveJpeg(const QImage& image, const std::string& path, int quality);

// A colourful test scene: sky gradient, sun, hills and a frame line at the edges.
QImage drawScene(int width, int height, unsigned seed);

}  // namespace tools
