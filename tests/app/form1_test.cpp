// The window as it starts, browsing, the preview and the size buttons.
#include <QColor>
#include <cmath>
#include <fstream>

#include "tests/support/qt/locale.h"
#include "tests/support/qt/qt_images.h"
#include "tests/support/qt/window_fixture.h"

namespace {

using testsupport::meanColor;
using Window = FormTest;

TEST_F(Window, StartsAsDesigned) {
  Form1& f = *form_;
  EXPECT_EQ(f.Caption(), "Quorvane");
  EXPECT_EQ(f.ScaleWidth(), 4455);
  EXPECT_EQ(f.ScaleHeight(), 3855);
  EXPECT_EQ(f.Width(), 4545);
  EXPECT_EQ(f.Text1.Text(), "125");
  EXPECT_EQ(f.Command1.Caption(), "Create Thumbnail");
  EXPECT_EQ(f.Command2.Caption(), "+");
  EXPECT_EQ(f.Command3.Caption(), "-");
  EXPECT_EQ(f.Label1.Caption(), "Size");
  EXPECT_EQ(f.File1.Pattern(), "*.jpg;*.gif");
  EXPECT_FALSE(f.Picture2.Visible());
  EXPECT_FALSE(f.Image1.Visible());
  EXPECT_EQ(f.Picture1.Left(), 2400);
  EXPECT_EQ(f.Picture1.Width(), 1945);
  EXPECT_EQ(f.File1.Top(), 2280);
}

TEST_F(Window, CanvasShowsTheSplashAtItsTopLeftOnButtonFace) {
  const QImage image = canvas();
  ASSERT_EQ(image.size(), QSize(126, 126));
  EXPECT_EQ(form_->Picture2.picture().pixelWidth(), 125);
  EXPECT_EQ(form_->Picture2.picture().pixelHeight(), 125);
  // Dark splash inside, button face in the one column and row the splash leaves.
  EXPECT_LT(meanColor(image, QRect(0, 0, 20, 20)).lightness(), 60);
  const platform::Color face = form_->Picture1.BackColor();
  EXPECT_EQ(image.pixel(125, 125), qRgb(face.red, face.green, face.blue));
  EXPECT_EQ(image.pixel(125, 0), qRgb(face.red, face.green, face.blue));
}

TEST_F(Window, FileListShowsJpegAndGifFilesOnly) {
  for (const char* name : {"b.jpg", "A.JPG", "c.Gif", "d.jpeg", "e.png", "f.bmp", ".hidden.jpg",
                           "img10.jpg", "img9.jpg", "img02.jpg", "img3.jpg", "img007.jpg"}) {
    std::ofstream(folder_ / name) << "x";
  }
  std::filesystem::create_directory(folder_ / "folder.jpg");
  form_->File1.setPath(folder_.string());
  std::vector<std::string> listed;
  listed.reserve(static_cast<size_t>(form_->File1.ListCount()));
  for (int i = 0; i < form_->File1.ListCount(); ++i) listed.push_back(form_->File1.List(i));
  // Numbers by their value, leading zeros and all: img02 before img3.
  EXPECT_EQ(listed, (std::vector<std::string>{"A.JPG", "b.jpg", "c.Gif", "img02.jpg", "img3.jpg",
                                              "img007.jpg", "img9.jpg", "img10.jpg"}));
  EXPECT_EQ(form_->File1.FileName(), "");
}

TEST_F(Window, OpeningAFolderMovesTheFileListButNotTheCanvas) {
  std::filesystem::create_directory(folder_ / "sub");
  writeJpeg("sub/inner.jpg", 40, 30);
  const QImage before = canvas();
  form_->Text1.setText("130");
  openFolder(folder_ / "sub");
  EXPECT_EQ(form_->Dir1.Path(), (folder_ / "sub").string());
  EXPECT_EQ(form_->File1.Path(), (folder_ / "sub").string());
  ASSERT_EQ(form_->File1.ListCount(), 1);
  EXPECT_EQ(form_->File1.List(0), "inner.jpg");
  EXPECT_EQ(canvas(), before);
  EXPECT_EQ(form_->Text1.Text(), "130");
  // The folder list holds the ancestors, then the subfolders; opening an ancestor goes up.
  int up = -1;
  for (int i = 0; i < form_->Dir1.ListCount(); ++i) {
    if (form_->Dir1.List(i) == folder_.string()) up = i;
  }
  ASSERT_GE(up, 0);
  form_->Dir1.openEntry(up);
  EXPECT_EQ(form_->File1.Path(), folder_.string());
}

TEST_F(Window, AFolderThatCannotBeReadIsReportedAndTheListsStay) {
  std::filesystem::create_directory(folder_ / "gone");
  openFolder(folder_);
  int row = -1;
  for (int i = 0; i < form_->Dir1.ListCount(); ++i) {
    if (form_->Dir1.List(i) == (folder_ / "gone").string()) row = i;
  }
  ASSERT_GE(row, 0);
  std::filesystem::remove(folder_ / "gone");
  form_->Dir1.openEntry(row);  // the folder went away after it was listed
  const auto box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '76':\n\nPath not found", 0), 0u) << box.prompt;
  EXPECT_EQ(box.title, "Quorvane");
  EXPECT_EQ(form_->Dir1.Path(), folder_.string());
  EXPECT_EQ(form_->File1.Path(), folder_.string());
}

struct Example {
  int w, h;
  const char* size;
  float canvasWidth, canvasHeight;  // twips
  int drawnWidth, drawnHeight;      // pixels
};

// Every worked example of the preview, twip for twip, and the pixels it rasterises to.
TEST_F(Window, PreviewSizesTheCanvasAndFillsIt) {
  const Example examples[] = {
      {640, 480, "125", 1930, 1461.25f, 125, 94},  {480, 640, "125", 1461.25f, 1930, 94, 125},
      {500, 500, "125", 1930, 1930, 125, 125},     {641, 640, "125", 1930, 1927.0748f, 125, 125},
      {2000, 100, "125", 1930, 148.75f, 125, 6},   {100, 2000, "125", 148.75f, 1930, 6, 125},
      {640, 480, "60", 955, 730, 60, 45},          {640, 480, "175", 2680, 2023.75f, 175, 131},
      {800, 600, "12.5", 242.5f, 195.625f, 13, 9},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(std::to_string(e.w) + "x" + std::to_string(e.h) + " at " + e.size);
    const std::string name = "p" + std::to_string(e.w) + "x" + std::to_string(e.h) + ".jpg";
    if (!std::filesystem::exists(folder_ / name)) writeJpeg(name, e.w, e.h);
    form_->Text1.setText(e.size);
    clickFile(name);
    EXPECT_EQ(form_->Picture1.Width(), e.canvasWidth);
    EXPECT_EQ(form_->Picture1.Height(), e.canvasHeight);
    EXPECT_EQ(form_->Image1.Width(), e.w * 15.0f);
    const QImage image = canvas();
    ASSERT_EQ(image.size(), QSize(e.drawnWidth, e.drawnHeight));
    // The picture fills the area: its four corners hold its quadrants' colours, no background.
    if (e.drawnWidth >= 20 && e.drawnHeight >= 20) {
      EXPECT_GT(QColor(image.pixel(0, 0)).red(), 150);
      EXPECT_GT(QColor(image.pixel(e.drawnWidth - 1, 0)).green(), 150);
      EXPECT_GT(QColor(image.pixel(0, e.drawnHeight - 1)).blue(), 150);
      const QColor yellow(image.pixel(e.drawnWidth - 1, e.drawnHeight - 1));
      EXPECT_GT(yellow.red(), 150);
      EXPECT_GT(yellow.green(), 150);
    }
  }
}

TEST_F(Window, TransparentPixelsTakeTheBackColourNotTheSplash) {
  QImage sticker(100, 100, QImage::Format_ARGB32);
  sticker.fill(Qt::transparent);
  for (int y = 40; y < 60; ++y) {
    for (int x = 40; x < 60; ++x) sticker.setPixel(x, y, qRgb(255, 0, 0));
  }
  writeGif("sticker.gif", testsupport::gifFrameOf(sticker));
  clickFile("sticker.gif");
  const QImage image = canvas();
  ASSERT_EQ(image.size(), QSize(125, 125));
  const platform::Color face = form_->Picture1.BackColor();
  EXPECT_EQ(image.pixel(5, 5), qRgb(face.red, face.green, face.blue));
  EXPECT_EQ(image.pixel(120, 120), qRgb(face.red, face.green, face.blue));
  EXPECT_GT(QColor(image.pixel(62, 62)).red(), 200);
}

TEST_F(Window, ABrokenPictureIsReportedAfterTheCanvasWasCleared) {
  writeJpeg("good.jpg", 640, 480);
  clickFile("good.jpg");
  std::ofstream(folder_ / "broken.jpg") << "this is not a picture";
  form_->File1.setPath(folder_.string());
  clickFile("broken.jpg");
  const auto box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '481':\n\nInvalid picture", 0), 0u) << box.prompt;
  EXPECT_EQ(box.title, "Quorvane");
  // Cleared: the splash shows again at the top left, the old picture's quadrants are gone.
  const QImage image = canvas();
  EXPECT_LT(meanColor(image, QRect(0, 0, 20, 20)).lightness(), 60);
}

TEST_F(Window, ASizeThatIsNotANumberIsATypeMismatchAfterTheLoad) {
  writeJpeg("good.jpg", 64, 48);
  for (const char* text : {"", "abc", "12px"}) {
    form_->Text1.setText(text);
    clickFile("good.jpg");
    const auto box = takeBox();
    EXPECT_EQ(box.prompt, "Run-time error '13':\n\nType mismatch") << '"' << text << '"';
    EXPECT_EQ(form_->Image1.Width(), 64 * 15.0f);  // the picture was loaded before
  }
}

TEST_F(Window, AbsurdSizesGiveClearErrorsAndNeverAllocate) {
  writeJpeg("good.jpg", 64, 48);
  const struct {
    const char* size;
    int error;
  } cases[] = {{"0", 5},      {"-10", 380}, {"20000", 480}, {"3e9", 480},
               {"1e20", 480}, {"1e300", 6}, {"1e308", 6}};
  for (const auto& c : cases) {
    form_->Text1.setText(c.size);
    clickFile("good.jpg");
    const auto box = takeBox();
    EXPECT_EQ(box.prompt.rfind("Run-time error '" + std::to_string(c.error) + "':", 0), 0u)
        << c.size << ": " << box.prompt;
    EXPECT_LE(canvas().width(), 16384);
  }
  // Within 16384 a side but over 100 megapixels: refused when drawn, not when saved.
  writeJpeg("square.jpg", 50, 50);
  form_->Text1.setText("10100");
  clickFile("square.jpg");
  EXPECT_EQ(takeBox().prompt.rfind("Run-time error '480':", 0), 0u);
  // The window's width follows any size but stays a width a screen can show.
  form_->Text1.setText("3e9");
  form_->Command2.click();
  EXPECT_EQ(form_->Width(), static_cast<float>(5295 - (175 - 3e9) * 15));
  EXPECT_EQ(form_->ScaleWidth(), 32767 * 15);
}

TEST_F(Window, ARoundingSliverNeverShowsTheBackground) {
  writeJpeg("wide.jpg", 640, 480);
  form_->Text1.setText("93.499999");  // the canvas rounds to 94 pixels, the drawing to 93
  clickFile("wide.jpg");
  const QImage image = canvas();
  ASSERT_EQ(image.width(), 94);
  EXPECT_GT(QColor(image.pixel(93, 10)).green(), 150);  // the picture's green quadrant
}

TEST_F(Window, PlusAndMinusFollowTheTableOfWidths) {
  Form1& f = *form_;
  const struct {
    const char* before;
    bool plus;
    const char* after;
    float width;  // 0: unchanged from what it was
  } presses[] = {
      {"170", true, "175", 5295},  {"175", true, "175", 5295},  {"65", false, "60", 0},
      {"60", false, "60", 0},      {"130", false, "125", 4545}, {"125", false, "120", 0},
      {"120", true, "125", 4545},  {"173", true, "178", 5340},  {"178", true, "178", 5340},
      {"62", false, "57", 0},      {"200", true, "200", 5670},  {"200", false, "195", 5595},
      {"126", false, "121", 4485}, {"118", true, "123", 4515},  {"12.5", true, "17.5", 0},
      {"65.1", false, "60.1", 0},
  };
  for (const auto& p : presses) {
    SCOPED_TRACE(std::string(p.before) + (p.plus ? " +" : " -"));
    f.Text1.setText(p.before);
    const float widthBefore = f.Width();
    (p.plus ? f.Command2 : f.Command3).click();
    EXPECT_EQ(f.Text1.Text(), testsupport::localNumber(p.after));
    EXPECT_EQ(f.Width(), p.width == 0 ? widthBefore : p.width);
    EXPECT_EQ(f.ScaleWidth(), std::round((f.Width() - 90) / 15) * 15);
  }
  for (int size = 125; size <= 175; size += 5) {
    f.Text1.setText(std::to_string(size - 5));
    f.Command2.click();
    EXPECT_EQ(f.Width(), 4545 + (size - 125) * 15);
  }
}

TEST_F(Window, SizeButtonsDoNotRedrawAndRejectText) {
  writeJpeg("good.jpg", 640, 480);
  clickFile("good.jpg");
  const QImage before = canvas();
  form_->Command2.click();
  EXPECT_EQ(form_->Text1.Text(), "130");
  EXPECT_EQ(canvas(), before);
  form_->Text1.setText("big");
  const float width = form_->Width();
  form_->Command2.click();
  form_->Command3.click();
  EXPECT_EQ(takeBox().prompt, "Run-time error '13':\n\nType mismatch");
  EXPECT_EQ(takeBox().prompt, "Run-time error '13':\n\nType mismatch");
  EXPECT_EQ(form_->Text1.Text(), "big");
  EXPECT_EQ(form_->Width(), width);
}

}  // namespace
