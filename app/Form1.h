// The program's one window: its controls, laid out as the program was designed (twips, 15 to the
// pixel), and their event handlers.
#pragma once

#include <string>

#include "platform/forms/forms.h"

class Form1 final : public platform::Form {
 public:
  // Creates the window and its controls and raises Load; Show() then shows it.
  Form1();

  // Controls, in the order they are created.
  platform::PictureBox Picture2;     // hidden: holds the stored start-up picture
  platform::TextBox Text1;           // the thumbnail size in pixels
  platform::CommandButton Command3;  // "-"
  platform::CommandButton Command2;  // "+"
  platform::FileListBox File1;
  platform::DirListBox Dir1;
  platform::DriveListBox Drive1;
  platform::PictureBox Picture1;     // the canvas: the preview, saved as the thumbnail
  platform::CommandButton Command1;  // "Create Thumbnail"
  platform::Label Label1;
  platform::Line Line1;
  platform::ImageControl Image1;  // hidden: the chosen picture at its natural size

  // Event handlers.
  void Form_Load();
  void Drive1_Change();
  void Dir1_Change();
  void File1_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

 private:
  double S() const;    // the thumbnail size: Text1's text as a number, read afresh at each use
  double r() const;    // the picture's ratio: Image1's width over its height
  void followSize();   // above 120 the window's width follows the size
  void drawPreview();  // File1_Click's steps
  // The canvas's drawn size as its description, for screen readers.
  void describePreview();
  std::string previewSource_;  // the file the canvas's drawing came from; empty when none
  // Why the last click drew nothing, for the box of Create Thumbnail.
  enum class PreviewFailure { kNotDrawn, kSizeNotANumber };
  PreviewFailure previewFailure_ = PreviewFailure::kNotDrawn;
};
