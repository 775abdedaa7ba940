// A Form1 in a fresh temporary folder, with every message box recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "platform/dialogs/msgbox.h"

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The next box shown; fails the test when there is none.
  platform::MsgBoxRequest takeBox();
  // Opens the folder in the form's folder list, as a double-click would.
  void openFolder(const std::filesystem::path& folder);
  // Clicks the named file in the file list.
  void clickFile(const std::string& name);

  // Test pictures written into the folder.
  void writeJpeg(const std::string& name, int width, int height);
  void writeJpeg(const std::string& name, const QImage& image);
  void writeGif(const std::string& name, const QImage& image);

  // The canvas's persistent image.
  QImage canvas() const;

  std::filesystem::path folder_;
  std::unique_ptr<Form1> form_;
  std::deque<platform::MsgBoxRequest> boxes_;
};

// A picture in four coloured quadrants (red, green / blue, yellow), for orientation checks.
QImage quadrants(int width, int height);
// The mean colour of a rectangle of an image.
QColor meanColor(const QImage& image, const QRect& rect);
