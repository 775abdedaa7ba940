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

  Drive1.Move(120, 120, 2055, 315);
  Drive1.setTabIndex(2);
  Dir1.Move(120, 480, 2055, 1665);
  Dir1.setTabIndex(3);
  File1.Move(120, 2280, 2055, 1455);
  File1.setTabIndex(4);

  Picture1.setBackColor(platform::buttonFaceColor());
  Picture1.Move(2400, 120, 1945, 1945);
  Picture1.setTabIndex(1);

  Command1.setCaption("Create Thumbnail");
  Command1.Move(2520, 3000, 1695, 255);
  Command1.setTabIndex(0);

  Label1.setCaption("Size");
  Label1.setFont("Times New Roman", 9.75, 400);
  Label1.setColors(kDarkRed, kBlack);
  Label1.Move(2640, 3360, 375, 255);

  Text1.setText("125");
  Text1.setColors(kDarkYellow, kBlack);
  Text1.Move(3000, 3360, 375, 285);
  Text1.setTabIndex(7);

  Command2.setCaption("+");
  Command2.Move(3480, 3360, 255, 255);
  Command2.setTabIndex(5);
  Command3.setCaption("-");
  Command3.Move(3720, 3360, 255, 255);
  Command3.setTabIndex(6);

  Picture2.Move(1800, 4200, 1935, 1935);
  Picture2.setPicture(platform::LoadPictureFromResource(":/quorvane/splash.jpg"));
  Picture2.setVisible(false);
  Image1.Move(0, -240, 20325, 16605);
  Image1.setVisible(false);

  Drive1.onChange([this] { Drive1_Change(); });
  Dir1.onChange([this] { Dir1_Change(); });
  File1.onClick([this] { File1_Click(); });
  Command1.onClick([this] { Command1_Click(); });
  Command2.onClick([this] { Command2_Click(); });
  Command3.onClick([this] { Command3_Click(); });

  platform::runHandler([this] { Form_Load(); });
}
