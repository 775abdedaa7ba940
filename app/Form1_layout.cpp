// Form1's controls as they stand when the program starts, and which event runs which handler.
#include "app/Form1.h"

using platform::Color;

namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kDarkYellow{192, 192, 0};
constexpr Color kDarkRed{192, 0, 0};
constexpr float kClientWidth = 4455;
constexpr float kClientHeight = 3855;

}  // namespace

Form1::Form1()
    : Picture2(*this),
      Text1(*this),
      Command3(*this),
      Command2(*this),
      File1(*this),
      Dir1(*this),
      Drive1(*this),
      Picture1(*this),
      Command1(*this),
      Label1(*this),
      Line1(*this, 2280, 0, 2280, 5400),
      Image1(*this) {
  setCaption("Quorvane");
  setClientSize(kClientWidth, kClientHeight);
  setBackColor(kBlack);
  setIcon(":/quorvane/icon.png");

  // Each control's place and size in twips and its place in the tab order, as designed.
  struct Placement {
    platform::Control& control;
    float left, top, width, height;
    int tabIndex;  // -1: none
  };
  const Placement placements[] = {
      {Drive1, 120, 120, 2055, 315, 2},     {Dir1, 120, 480, 2055, 1665, 3},
      {File1, 120, 2280, 2055, 1455, 4},    {Picture1, 2400, 120, 1945, 1945, 1},
      {Command1, 2520, 3000, 1695, 255, 0}, {Label1, 2640, 3360, 375, 255, 8},
      {Text1, 3000, 3360, 375, 285, 7},     {Command2, 3480, 3360, 255, 255, 5},
      {Command3, 3720, 3360, 255, 255, 6},  {Picture2, 1800, 4200, 1935, 1935, 9},
      {Image1, 0, -240, 20325, 16605, -1},
  };
  // The canvas's back colour first: moving it paints its drawing area.
  Picture1.setBackColor(platform::buttonFaceColor());
  for (const Placement& p : placements) {
    p.control.Move(p.left, p.top, p.width, p.height);
    if (p.tabIndex >= 0) p.control.setTabIndex(p.tabIndex);
  }

  Command1.setCaption("Create Thumbnail");
  Label1.setCaption("Size");
  Label1.setFont("Times New Roman", 9.75, 400);
  Label1.setColors(kDarkRed, kBlack);
  Text1.setText("125");
  Text1.setColors(kDarkYellow, kBlack);
  Command2.setCaption("+");
  Command3.setCaption("-");
  // What a screen reader says for each control; the canvas is described by its drawing.
  struct Spoken {
    platform::Control& control;
    const char* name;
    const char* description;
  };
  const Spoken spoken[] = {
      {Drive1, "Drive", "The drive whose folders are listed"},
      {Dir1, "Folder", "The open folder and its subfolders; double-click one to open it"},
      {File1, "Pictures", "The folder's JPEG and GIF pictures; choose one to preview it"},
      {Picture1, "Thumbnail preview", ""},
      {Command1, "Create Thumbnail", "Saves the preview as thumb_ and the picture's name"},
      {Label1, "Size", "Labels the thumbnail size box"},
      {Text1, "Thumbnail size in pixels", "The longer side; + and - step it by 5, 60 to 175"},
      {Command2, "Larger thumbnail", "Adds 5 pixels to the thumbnail size"},
      {Command3, "Smaller thumbnail", "Takes 5 pixels from the thumbnail size"},
      {Picture2, "Start-up picture", "Holds the start-up picture; not shown"},
      {Image1, "Chosen picture", "Holds the chosen picture at its own size; not shown"},
  };
  for (const Spoken& s : spoken) {
    s.control.setAccessibleName(s.name);
    s.control.setAccessibleDescription(s.description);
  }

  Picture2.setPicture(platform::LoadPictureFromResource(":/quorvane/splash.jpg"));
  Picture2.setVisible(false);
  Image1.setVisible(false);

  Drive1.onChange([this] { Drive1_Change(); });
  Dir1.onChange([this] { Dir1_Change(); });
  File1.onClick([this] { File1_Click(); });
  Command1.onClick([this] { Command1_Click(); });
  Command2.onClick([this] { Command2_Click(); });
  Command3.onClick([this] { Command3_Click(); });

  platform::runHandler([this] { Form_Load(); });
  describePreview();
}
