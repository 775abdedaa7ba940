// The main of the test programs that need Qt: its offscreen platform (no display), Qt's GIF
// decoder installed as the program installs it, boxes caught by each test through the seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/picture/qt/gif_decode.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  platform::installQtGifDecoder();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
