// The window fixture: a Form1 opened on a fresh temporary folder, with every message box recorded
// instead of shown (a box left unchecked fails the test).
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/gif_writer.h"

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The next box shown; fails the test when there is none.
  platform::MsgBoxRequest takeBox() { return boxes_.take(); }
  // The next box is run-time error `number` naming `path`, titled as the program.
  void expectError(int number, const std::filesystem::path& path);
  // The folder list's row of `path`; fails the test (and gives -1) when it is not listed.
  int folderRow(const std::filesystem::path& path) const;
  // Opens the folder in the form's folder list, as a double-click would.
  void openFolder(const std::filesystem::path& folder);
  // Clicks the named file in the file list.
  void clickFile(const std::string& name);

  // Test pictures written into the folder (a name may hold a subfolder); the file list is
  // refreshed. The JPEG shows testsupport::quadrants at quality 95.
  void writeJpeg(const std::string& name, int width, int height);
  void writeGif(const std::string& name, const tools::GifFrame& frame);

  // The canvas's persistent image.
  QImage canvas() const;

  testsupport::TempFolder temp_{"quorvane-form"};
  const std::filesystem::path folder_ = temp_.path();
  testsupport::MsgBoxRecorder boxes_;
  std::unique_ptr<Form1> form_;
};
