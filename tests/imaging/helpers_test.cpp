#include "imaging/Helpers.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/jpeglib/ijl15_testing.h"
#include "platform/dialogs/msgbox.h"
#include "platform/base/runtime_error.h"

namespace {

namespace fs = std::filesystem;
using platform::MsgBoxRequest;

int errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::RuntimeError& error) {
    return error.number();
  }
  return 0;
}

class TempDir final {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "helpers_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::set<std::string> names() const {
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(path_)) result.insert(entry.path().filename());
    return result;
  }

 private:
  std::string path_;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Rgb {
  int r, g, b;
};
// Top-left, top-right, bottom-left, bottom-right: a mirrored, flipped or red-blue swapped
// picture puts a wrong colour in some quadrant.
constexpr Rgb kQuadrants[4] = {{220, 30, 30}, {30, 200, 40}, {40, 50, 210}, {230, 220, 40}};

// Fills a DIB section (bottom row first in memory) with the quadrants; a fourth byte gets junk.
void drawQuadrants(const cDIBSection& dib) {
  const int width = dib.dib_width(), height = dib.dib_height(), channels = dib.dib_channels();
  auto* bits = static_cast<std::uint8_t*>(dib.DIBSectionBitsPtr());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bits + static_cast<std::size_t>(height - 1 - y) * dib.BytesPerScanLine();
    for (int x = 0; x < width; ++x) {
      const Rgb c = kQuadrants[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
      std::uint8_t* pixel = row + static_cast<std::size_t>(x) * channels;
      pixel[0] = static_cast<std::uint8_t>(c.b);
      pixel[1] = static_cast<std::uint8_t>(c.g);
      pixel[2] = static_cast<std::uint8_t>(c.r);
      if (channels == 4) pixel[3] = static_cast<std::uint8_t>(x * 37 + y * 11);
    }
  }
}

struct Decoded {
  int width = 0, height = 0, subsamp = -1, colorspace = -1;
  std::vector<std::uint8_t> rgb;  // top row first
};

Decoded decodeJpeg(const std::string& bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), &tjDestroy);
  Decoded d;
  if (tjDecompressHeader3(tj.get(), data, bytes.size(), &d.width, &d.height, &d.subsamp,
                          &d.colorspace) != 0) {
    return {};
  }
  d.rgb.resize(static_cast<std::size_t>(d.width) * d.height * 3);
  if (tjDecompress2(tj.get(), data, bytes.size(), d.rgb.data(), d.width, 0, d.height, TJPF_RGB,
                    0) != 0) {
    return {};
  }
  return d;
}

// Mean colour of each quadrant's inner part (away from the edges that chroma blurs) within a
// quality-75 tolerance.
void expectQuadrants(const Decoded& d) {
  constexpr int kMargin = 6;
  constexpr double kTolerance = 10;
  for (int q = 0; q < 4; ++q) {
    const int x0 = (q % 2 == 0 ? 0 : d.width / 2) + kMargin;
    const int x1 = (q % 2 == 0 ? d.width / 2 : d.width) - kMargin;
    const int y0 = (q < 2 ? 0 : d.height / 2) + kMargin;
    const int y1 = (q < 2 ? d.height / 2 : d.height) - kMargin;
    ASSERT_TRUE(x0 < x1 && y0 < y1) << "picture too small for the margin";
    double sum[3] = {0, 0, 0};
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const std::size_t at = (static_cast<std::size_t>(y) * d.width + x) * 3;
        for (int c = 0; c < 3; ++c) sum[c] += d.rgb[at + c];
      }
    }
    const double count = static_cast<double>(x1 - x0) * (y1 - y0);
    EXPECT_NEAR(sum[0] / count, kQuadrants[q].r, kTolerance) << "quadrant " << q;
    EXPECT_NEAR(sum[1] / count, kQuadrants[q].g, kTolerance) << "quadrant " << q;
    EXPECT_NEAR(sum[2] / count, kQuadrants[q].b, kTolerance) << "quadrant " << q;
  }
}

// The markers before the first scan: JFIF header, frame header and luminance table.
struct JpegHeaders {
  bool jfif = false;
  int frameMarker = 0;  // 0xC0 for a baseline frame
  int precision = 0, height = 0, width = 0;
  std::vector<int> sampling;   // per component, horizontal * 16 + vertical
  std::vector<int> lumaTable;  // table 0 in file (zigzag) order
};

JpegHeaders parseHeaders(const std::string& jpeg) {
  JpegHeaders h;
  auto at = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(jpeg[i])); };
  if (jpeg.size() < 4 || at(0) != 0xFF || at(1) != 0xD8) return h;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && at(pos) == 0xFF && at(pos + 1) != 0xDA) {
    const int marker = at(pos + 1);
    const std::size_t body = pos + 4, end = pos + 2 + (at(pos + 2) << 8 | at(pos + 3));
    if (end > jpeg.size()) break;
    if (marker == 0xE0 && end - body >= 5) {
      h.jfif = jpeg.compare(body, 5, std::string("JFIF\0", 5)) == 0;
    } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
               marker != 0xCC) {
      h.frameMarker = marker;
      h.precision = at(body);
      h.height = at(body + 1) << 8 | at(body + 2);
      h.width = at(body + 3) << 8 | at(body + 4);
      for (std::size_t c = 0; c < static_cast<std::size_t>(at(body + 5)); ++c) {
        h.sampling.push_back(at(body + 7 + 3 * c));
      }
    } else if (marker == 0xDB) {
      for (std::size_t p = body; p < end;) {
        const int precisionAndId = at(p++);
        const std::size_t size = (precisionAndId >> 4) ? 128 : 64;
        if ((precisionAndId & 15) == 0 && size == 64) {
          for (std::size_t k = 0; k < 64; ++k) h.lumaTable.push_back(at(p + k));
        }
        p += size;
      }
    }
    pos = end;
  }
  return h;
}

// The standard luminance table scaled for quality 75 (factor 50%), in zigzag order.
std::vector<int> quality75LumaTable() {
  constexpr std::array<int, 64> kStandard = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  constexpr std::array<int, 64> kZigzag = {
      0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
      41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
      30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  std::vector<int> table;
  table.reserve(64);
  for (const int natural : kZigzag) table.push_back((kStandard[natural] * 50 + 50) / 100);
  return table;
}

class HelpersTest : public ::testing::Test {
 protected:
  HelpersTest() {
    platform::setMsgBoxHandler([this](const MsgBoxRequest& box) {
      boxes_.push_back(box);
      return platform::vbOK;
    });
  }
  ~HelpersTest() override { platform::setMsgBoxHandler({}); }

  // Exactly one JPEG-library box, carrying this code and message.
  void expectOneBox(int code, const std::string& message) {
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].prompt, "IJL ERROR: [" + std::to_string(code) + "] - " + message);
    EXPECT_EQ(boxes_[0].style, 48);
    EXPECT_EQ(boxes_[0].title, "Intel(R) JPEG Library");
  }

  std::vector<MsgBoxRequest> boxes_;
  platform::IjlHooks hooks_;
  platform::ScopedIjlHooks scopedHooks_{hooks_};
  TempDir dir_;
};

TEST(DibPadBytes, PadsRowsToAMultipleOfFourBytes) {
  EXPECT_EQ(DibPadBytes(125, 3), 1);
  EXPECT_EQ(DibPadBytes(100, 3), 0);
  EXPECT_EQ(DibPadBytes(1, 3), 1);
  EXPECT_EQ(DibPadBytes(2, 3), 2);
  EXPECT_EQ(DibPadBytes(3, 3), 3);
  for (const int width : {0, 1, 5, 125, 536870911}) EXPECT_EQ(DibPadBytes(width, 4), 0) << width;
  EXPECT_EQ(DibPadBytes(0, 0), 0);
}

TEST(DibPadBytes, RaisesOverflowAbove2147483644Bytes) {
  EXPECT_EQ(DibPadBytes(2147483644, 1), 0);
  EXPECT_EQ(DibPadBytes(715827881, 3), 1);  // 2147483643 bytes
  EXPECT_EQ(errorOf([] { DibPadBytes(2147483645, 1); }), platform::kErrOverflow);
  EXPECT_EQ(errorOf([] { DibPadBytes(715827882, 3); }), platform::kErrOverflow);   // sum
  EXPECT_EQ(errorOf([] { DibPadBytes(1073741824, 2); }), platform::kErrOverflow);  // product
  EXPECT_EQ(errorOf([] { DibPadBytes(-1073741825, 2); }), platform::kErrOverflow);
}

TEST_F(HelpersTest, ReportJpegErrorPutsTheCodeInBrackets) {
  ReportJpegError("Failed to save to JPG", -5);
  expectOneBox(-5, "Failed to save to JPG");
  boxes_.clear();
  ReportJpegError("Something", 12);
  expectOneBox(12, "Something");
}

TEST_F(HelpersTest, WritesTheDibUprightAsABaselineQuality75Jpeg) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(125, 94, 3));
  drawQuadrants(dib);
  const std::string file = dir_.file("thumb_pattern.jpg");
  EXPECT_TRUE(SaveDibAsJpeg(dib, file));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hooks_.initCalls, 1);
  EXPECT_EQ(hooks_.writeCalls, 1);
  EXPECT_EQ(hooks_.freeCalls, 1);

  const platform::JPEG_CORE_PROPERTIES& r = hooks_.lastWrite;
  EXPECT_EQ(r.DIBBytes, dib.DIBSectionBitsPtr());
  EXPECT_EQ(r.DIBWidth, 125);
  EXPECT_EQ(r.DIBHeight, -94);
  EXPECT_EQ(r.DIBPadBytes, 1);
  EXPECT_EQ(r.DIBChannels, 3);
  EXPECT_EQ(r.DIBColor, platform::IJL_BGR);
  EXPECT_EQ(r.JPGWidth, 125);
  EXPECT_EQ(r.JPGHeight, 94);
  EXPECT_EQ(r.JPGChannels, 3);
  EXPECT_EQ(r.JPGColor, platform::IJL_YCBCR);
  EXPECT_EQ(r.JPGSubsampling, platform::IJL_411);
  EXPECT_EQ(r.jquality, 75);
  EXPECT_EQ(hooks_.lastFile, file);

  const std::string jpeg = readFile(file);
  const Decoded d = decodeJpeg(jpeg);
  ASSERT_EQ(d.width, 125);
  ASSERT_EQ(d.height, 94);
  EXPECT_EQ(d.subsamp, TJSAMP_420);
  EXPECT_EQ(d.colorspace, TJCS_YCbCr);
  expectQuadrants(d);

  const JpegHeaders h = parseHeaders(jpeg);
  EXPECT_TRUE(h.jfif);
  EXPECT_EQ(h.frameMarker, 0xC0);
  EXPECT_EQ(h.precision, 8);
  EXPECT_EQ(h.width, 125);
  EXPECT_EQ(h.height, 94);
  EXPECT_EQ(h.sampling, (std::vector<int>{0x22, 0x11, 0x11}));
  ASSERT_EQ(h.lumaTable.size(), 64u);
  EXPECT_EQ(h.lumaTable[0], 8);
  EXPECT_EQ(h.lumaTable, quality75LumaTable());
}

TEST_F(HelpersTest, WritesA32BitDibInTrueColours) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(64, 48, 4));
  drawQuadrants(dib);
  const std::string file = dir_.file("thumb_32.jpg");
  EXPECT_TRUE(SaveDibAsJpeg(dib, file));
  EXPECT_TRUE(boxes_.empty());
  const std::string jpeg = readFile(file);
  const Decoded d = decodeJpeg(jpeg);
  ASSERT_EQ(d.width, 64);
  ASSERT_EQ(d.height, 48);
  EXPECT_EQ(d.subsamp, TJSAMP_420);
  EXPECT_EQ(d.colorspace, TJCS_YCbCr);
  EXPECT_EQ(parseHeaders(jpeg).sampling, (std::vector<int>{0x22, 0x11, 0x11}));
  expectQuadrants(d);
}

TEST_F(HelpersTest, InitFailureShowsOneBoxAndNeitherWritesNorFrees) {
  hooks_.initResult = platform::IJL_MEMORY_ERROR;
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("x.jpg")));
  expectOneBox(platform::IJL_MEMORY_ERROR, "Failed to initialise the IJL library");
  EXPECT_EQ(hooks_.writeCalls, 0);
  EXPECT_EQ(hooks_.freeCalls, 0);
  EXPECT_TRUE(dir_.names().empty());
}

TEST_F(HelpersTest, WriteFailureShowsOneBoxAndFreesOnce) {
  hooks_.writeResult = platform::IJL_ERR_FILEWRITE;
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("x.jpg")));
  expectOneBox(platform::IJL_ERR_FILEWRITE, "Failed to save to JPG");
  EXPECT_EQ(hooks_.writeCalls, 1);
  EXPECT_EQ(hooks_.freeCalls, 1);
}

TEST_F(HelpersTest, ADibWithoutPixelMemoryIsNeverRead) {
  const std::string file = dir_.file("thumb.jpg");
  std::ofstream(file, std::ios::binary) << "earlier thumbnail";
  cDIBSection empty;      // as after a file that was not read
  cDIBSection sizedOnly;  // the size of a bitmap that could not be made
  EXPECT_FALSE(sizedOnly.Create(5, 0, 3));
  for (const cDIBSection* dib : {&empty, &sizedOnly}) {
    ASSERT_EQ(dib->DIBSectionBitsPtr(), nullptr);
    boxes_.clear();
    EXPECT_FALSE(SaveDibAsJpeg(*dib, file));
    expectOneBox(platform::IJL_INVALID_DIB_BYTES, "Failed to save to JPG");
  }
  EXPECT_EQ(hooks_.freeCalls, 2);
  EXPECT_EQ(readFile(file), "earlier thumbnail");
  EXPECT_EQ(dir_.names(), std::set<std::string>{"thumb.jpg"});
}

TEST_F(HelpersTest, AnOverflowLeavesWithoutABoxButFreesTheRecord) {
  cDIBSection dib;
  // The header keeps the size even though the row length overflowed.
  EXPECT_EQ(errorOf([&] { dib.Create(715827882, 1, 3); }), platform::kErrOverflow);
  ASSERT_EQ(dib.dib_width(), 715827882);
  EXPECT_EQ(errorOf([&] { SaveDibAsJpeg(dib, dir_.file("x.jpg")); }), platform::kErrOverflow);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hooks_.writeCalls, 0);
  EXPECT_EQ(hooks_.freeCalls, 1);
}

TEST_F(HelpersTest, AnUncreatableFileShowsOneBoxAndLeavesNoFile) {
  std::ofstream(dir_.file("plain"), std::ios::binary) << "not a folder";
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("plain/thumb_x.jpg")));
  expectOneBox(platform::IJL_ERR_FILECREATE, "Failed to save to JPG");
  EXPECT_EQ(dir_.names(), std::set<std::string>{"plain"});
}

TEST_F(HelpersTest, ANameWithOddCharactersIsWrittenIntact) {
  const std::string name = "thumb_a b 'single' \"double\" \xF0\x9F\x98\x80\nline.jpg";
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(16, 16, 3));
  drawQuadrants(dib);
  EXPECT_TRUE(SaveDibAsJpeg(dib, dir_.file(name)));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(dir_.names(), std::set<std::string>{name});
  EXPECT_EQ(decodeJpeg(readFile(dir_.file(name))).width, 16);
}

}  // namespace
