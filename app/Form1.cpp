// Form1's event handlers.
#include "app/Form1.h"

#include <functional>
#include <string>

#include "imaging/Helpers.h"
#include "imaging/cDIBSection.h"
#include "platform/base/runtime_error.h"
#include "platform/dialogs/msgbox.h"
#include "platform/forms/forms.h"
#include "platform/forms/numbers.h"
#include "platform/forms/temp_file.h"

using platform::CDbl;
using platform::CStr;
using platform::kCanvasBorderTwips;
using platform::kTwipsPerPixel;
using platform::MsgBox;

namespace {

constexpr double kSizeStep = 5;
constexpr double kLargestStep = 175;
constexpr double kSmallestStep = 60;
constexpr double kWidthFollowsAbove = 120;
constexpr double kWidthAtLargest = 5295;

// One computed value, with the floating-point status of its computation tested.
double checked(const std::function<double()>& compute) {
  const platform::FloatCheck status;
  return status.check(compute());
}

}  // namespace

double Form1::S() const { return CDbl(Text1.Text()); }

double Form1::r() const { return static_cast<double>(Image1.Width()) / Image1.Height(); }

void Form1::Form_Load() {
  Picture1.setPicture(Picture2.picture());
  File1.setPattern("*.jpg;*.gif");
}

void Form1::Drive1_Change() { Dir1.setPath(Drive1.Drive()); }

void Form1::Dir1_Change() { File1.setPath(Dir1.Path()); }

void Form1::File1_Click() {
  // Drawn or not, the preview's description tells its size afterwards.
  struct Describe {
    Form1& form;
    ~Describe() { form.describePreview(); }
  } describe{*this};
  previewFailure_ = PreviewFailure::kNotDrawn;
  try {
    drawPreview();
  } catch (const platform::RuntimeError& error) {
    if (error.number() == platform::kErrTypeMismatch) {
      previewFailure_ = PreviewFailure::kSizeNotANumber;
    }
    throw;  // reported as every handler's run-time error is
  }
}

void Form1::drawPreview() {
  Picture1.Cls();
  previewSource_.clear();
  const std::string path = File1.Path() + "/" + File1.FileName();
  Image1.setPicture(platform::LoadPicture(path));
  const float ratio = platform::CSng(checked([&] {
    const double height = Image1.Height();
    return Image1.Width() / height;
  }));
  if (ratio > 1.0f) {
    Picture1.setWidth(checked([&] { return S() * kTwipsPerPixel + kCanvasBorderTwips; }));
    Picture1.setHeight(checked([&] { return S() * kTwipsPerPixel / r() + kCanvasBorderTwips; }));
    Picture1.PaintPicture(Image1.picture(), 0, 0, checked([&] { return S() * kTwipsPerPixel; }),
                          checked([&] { return S() * kTwipsPerPixel / r(); }));
  } else {
    Picture1.setWidth(checked([&] { return S() * kTwipsPerPixel * r() + kCanvasBorderTwips; }));
    Picture1.setHeight(checked([&] { return S() * kTwipsPerPixel + kCanvasBorderTwips; }));
    Picture1.PaintPicture(Image1.picture(), 0, 0,
                          checked([&] { return S() * kTwipsPerPixel * r(); }),
                          checked([&] { return S() * kTwipsPerPixel; }));
  }
  previewSource_ = path;
}

void Form1::Command1_Click() {
  if (File1.FileName().empty()) {
    MsgBox("No picture selected", platform::vbOKOnly, "Prompt");
    return;
  }
  // The canvas holds this file's thumbnail only when its last click drew it.
  if (previewSource_ != File1.Path() + "/" + File1.FileName()) {
    const std::string reason =
        previewFailure_ == PreviewFailure::kSizeNotANumber
            ? "the size is not a number, so " + File1.FileName() + " was not drawn."
            : File1.FileName() + " could not be drawn.";
    MsgBox("No thumbnail was made: " + reason, platform::vbExclamation, "Prompt");
    return;
  }
  platform::TempFile bitmapFile("quorvane-canvas-", ".bmp");
  platform::SavePicture(Picture1.Image(), bitmapFile.path());
  cDIBSection dib;
  dib.Load(bitmapFile.path());
  const std::string output = File1.Path() + "/thumb_" + File1.FileName();
  const bool saved = SaveDibAsJpeg(dib, output);
  platform::Kill(bitmapFile.path());
  bitmapFile.release();
  if (saved) MsgBox("File saved to : " + output, platform::vbOKOnly, "Prompt");
}

void Form1::Command2_Click() {
  if (S() < kLargestStep) Text1.setText(CStr(checked([&] { return S() + kSizeStep; })));
  followSize();
}

void Form1::Command3_Click() {
  if (S() > kSmallestStep) Text1.setText(CStr(checked([&] { return S() - kSizeStep; })));
  followSize();
}

void Form1::followSize() {
  if (S() > kWidthFollowsAbove) {
    setWidth(checked([&] { return kWidthAtLargest - (kLargestStep - S()) * kTwipsPerPixel; }));
  }
}

void Form1::describePreview() {
  Picture1.setAccessibleDescription(std::to_string(Picture1.ScalePixelWidth()) + " x " +
                                    std::to_string(Picture1.ScalePixelHeight()) + " pixels");
}
