#include "platform/jpeglib/ijl15.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/base/atomic_file.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class TempDir final {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ijl15_test.XXXXXX").string();
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

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A picture of width x height pixels, 3 bytes per pixel, rows padded to 4 bytes, every row
// different; stored bottom row first or top row first.
std::vector<std::uint8_t> patternPixels(int width, int height, bool bottomUp) {
  const int pitch = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(pitch) * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    const std::size_t row = static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * pitch;
    for (int x = 0; x < width * 3; ++x) bits[row + x] = static_cast<std::uint8_t>(x * 7 + y * 29);
  }
  return bits;
}

// A prepared record for a 3-byte DIB, as the program fills it; the caller frees it.
void prepare(JPEG_CORE_PROPERTIES& r, std::vector<std::uint8_t>& bits, int width, int height,
             const std::string& file) {
  std::memset(&r, 0, sizeof r);
  ASSERT_EQ(ijlInit(&r), IJL_OK);
  r.DIBBytes = bits.data();
  r.DIBWidth = width;
  r.DIBHeight = -height;
  r.DIBChannels = 3;
  r.DIBPadBytes = ((width * 3 + 3) & ~3) - width * 3;
  r.DIBColor = IJL_BGR;
  r.JPGFile = file.c_str();
  r.JPGWidth = width;
  r.JPGHeight = height;
  r.JPGChannels = 3;
  r.JPGColor = IJL_YCBCR;
  r.JPGSubsampling = IJL_411;
  r.jquality = 75;
}

TEST(IjlRecord, OnlyAPreparedRecordIsWrittenOrFreed) {
  EXPECT_EQ(ijlInit(nullptr), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlWrite(nullptr, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(nullptr), IJL_INVALID_JPEG_PROPERTIES);

  JPEG_CORE_PROPERTIES zeroed;
  std::memset(&zeroed, 0, sizeof zeroed);
  EXPECT_EQ(ijlWrite(&zeroed, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(&zeroed), IJL_INVALID_JPEG_PROPERTIES);

  // Two records at once each hold a compressor of their own.
  JPEG_CORE_PROPERTIES a, b;
  std::memset(&a, 0, sizeof a);
  std::memset(&b, 0, sizeof b);
  ASSERT_EQ(ijlInit(&a), IJL_OK);
  ASSERT_EQ(ijlInit(&b), IJL_OK);
  EXPECT_NE(a.jprops.encoder, b.jprops.encoder);
  EXPECT_EQ(ijlFree(&a), IJL_OK);
  EXPECT_EQ(ijlFree(&a), IJL_INVALID_JPEG_PROPERTIES);  // a second free does nothing
  EXPECT_EQ(ijlWrite(&a, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(&b), IJL_OK);
}

TEST(IjlWrite, RejectsAnInconsistentRecordBeforeReadingAPixel) {
  struct Case {
    const char* name;
    std::function<void(JPEG_CORE_PROPERTIES&)> change;
    int expected;
    int iotype = IJL_JFILE_WRITEWHOLEIMAGE;
  };
  const std::vector<Case> cases = {
      {"no pixel memory", [](auto& r) { r.DIBBytes = nullptr; }, IJL_INVALID_DIB_BYTES},
      {"no file name", [](auto& r) { r.JPGFile = nullptr; }, IJL_INVALID_FILENAME},
      {"empty file name", [](auto& r) { r.JPGFile = ""; }, IJL_INVALID_FILENAME},
      {"other operation", [](auto&) {}, IJL_UNSUPPORTED_IOTYPE, 7},
      {"2 bytes per pixel", [](auto& r) { r.DIBChannels = 2; }, IJL_UNSUPPORTED_BYTES_PER_PIXEL},
      {"0 bytes per pixel", [](auto& r) { r.DIBChannels = 0; }, IJL_UNSUPPORTED_BYTES_PER_PIXEL},
      {"4-byte order for 3 bytes", [](auto& r) { r.DIBColor = IJL_RGBA_FPX; },
       IJL_UNSUPPORTED_COLOR},
      {"4 bytes, 3-byte order", [](auto& r) { r.DIBChannels = 4; }, IJL_UNSUPPORTED_COLOR},
      {"JPEG colour", [](auto& r) { r.JPGColor = IJL_YCBCRA_FPX; }, IJL_UNSUPPORTED_COLOR},
      {"JPEG channels", [](auto& r) { r.JPGChannels = 1; }, IJL_UNSUPPORTED_COLOR},
      {"sampling", [](auto& r) { r.JPGSubsampling = IJL_4114; }, IJL_UNSUPPORTED_SUBSAMPLING},
      {"quality 101", [](auto& r) { r.jquality = 101; }, IJL_INVALID_QUALITY},
      {"quality -1", [](auto& r) { r.jquality = -1; }, IJL_INVALID_QUALITY},
      {"width 0", [](auto& r) { r.DIBWidth = r.JPGWidth = 0; }, IJL_INVALID_DIB_SIZE},
      {"height 0", [](auto& r) { r.DIBHeight = r.JPGHeight = 0; }, IJL_INVALID_DIB_SIZE},
      {"height INT_MIN", [](auto& r) { r.DIBHeight = INT_MIN; }, IJL_INVALID_DIB_SIZE},
      {"JPEG width", [](auto& r) { r.JPGWidth = 4; }, IJL_INVALID_DIB_SIZE},
      {"JPEG height", [](auto& r) { r.JPGHeight = -4; }, IJL_INVALID_DIB_SIZE},
      {"padding short", [](auto& r) { r.DIBPadBytes = 0; }, IJL_INVALID_DIB_SIZE},
      {"padding long", [](auto& r) { r.DIBPadBytes = 5; }, IJL_INVALID_DIB_SIZE},
      {"side above 65500",
       [](auto& r) {
         r.DIBWidth = r.JPGWidth = 65504;
         r.DIBPadBytes = 0;
       },
       IJL_INVALID_DIB_SIZE},
      {"more than 2 GiB of pixels",
       [](auto& r) {
         r.DIBWidth = r.JPGWidth = 40000;
         r.DIBHeight = -40000;
         r.JPGHeight = 40000;
         r.DIBPadBytes = 0;
       },
       IJL_INVALID_DIB_SIZE},
  };
  TempDir dir;
  const std::string file = dir.file("out.jpg");
  // A 5 x 4 picture: rows of 15 bytes and 1 byte of padding. The checks must come before the
  // encoder reads these 64 bytes as a larger picture (the sanitizer build sees any such read).
  std::vector<std::uint8_t> bits(64, 0x80);
  for (const Case& c : cases) {
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 5, 4, file);
    c.change(r);
    EXPECT_EQ(ijlWrite(&r, c.iotype), c.expected) << c.name;
    ijlFree(&r);
  }
  EXPECT_TRUE(dir.names().empty());
}

TEST(IjlWrite, TopDownAndBottomUpRowsGiveTheSameJpeg) {
  // The encoder is handed the same rows in the same order, so the files are identical; the
  // imaging tests check that the bottom-up picture comes out upright.
  TempDir dir;
  std::string files[2];
  for (const bool bottomUp : {true, false}) {
    std::vector<std::uint8_t> bits = patternPixels(41, 32, bottomUp);
    const std::string file = dir.file(bottomUp ? "bottom-up.jpg" : "top-down.jpg");
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 41, 32, file);
    if (!bottomUp) r.DIBHeight = 32;
    EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_OK);
    ijlFree(&r);
    files[bottomUp ? 0 : 1] = readFile(file);
  }
  EXPECT_EQ(files[0].substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(files[0], files[1]);
}

TEST(IjlWrite, FailsWhereNoFileCanBeMadeAndLeavesNothingBehind) {
  TempDir dir;
  writeFile(dir.file("plain"), "not a folder");
  fs::create_directory(dir.file("taken.jpg"));
  std::vector<std::uint8_t> bits = patternPixels(8, 8, true);
  for (const std::string name : {"plain/x.jpg", "missing/x.jpg", "taken.jpg"}) {
    const std::string file = dir.file(name);
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 8, 8, file);
    EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_ERR_FILECREATE) << name;
    ijlFree(&r);
  }
  EXPECT_EQ(dir.names(), (std::set<std::string>{"plain", "taken.jpg"}));
  EXPECT_TRUE(fs::is_empty(dir.file("taken.jpg")));
}

TEST(IjlWrite, ReplacesAnEarlierFileOnlyWhenTheWriteSucceeds) {
  TempDir dir;
  const std::string file = dir.file("thumb.jpg");
  writeFile(file, "earlier file");
  std::vector<std::uint8_t> bits = patternPixels(8, 8, true);
  JPEG_CORE_PROPERTIES r;
  prepare(r, bits, 8, 8, file);
  r.DIBPadBytes = 3;
  EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_DIB_SIZE);
  EXPECT_EQ(readFile(file), "earlier file");
  r.DIBPadBytes = 0;
  EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_OK);
  ijlFree(&r);
  EXPECT_EQ(readFile(file).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(dir.names(), std::set<std::string>{"thumb.jpg"});
}

TEST(AtomicFile, KeepsTheModeOfTheFileItReplacesAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string file = dir.file("data.bin");
  writeFile(file, "old contents, longer than the new ones");
  chmod(file.c_str(), 0600);
  const std::string bytes("new\0bytes", 9);
  const WriteResult result = writeFileAtomically(file, bytes.data(), bytes.size());
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(readFile(file), bytes);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a private file stays private";
  EXPECT_EQ(dir.names(), std::set<std::string>{"data.bin"});
}

TEST(AtomicFile, TakesNamesOfAnyBytesAndAnyLength) {
  TempDir dir;
  std::string longName;
  while (longName.size() < 250) longName += "\xC3\xA9";  // é: a temporary name must not split it
  longName += "a.jpg";
  ASSERT_EQ(longName.size(), 255u);
  const std::string oddName = "a b 'single' \"double\" \xF0\x9F\x98\x80\nsecond line.jpg";
  for (const std::string& name : {longName, oddName}) {
    EXPECT_TRUE(writeFileAtomically(dir.file(name), "x", 1).ok());
  }
  EXPECT_EQ(dir.names(), (std::set<std::string>{longName, oddName}));
}

TEST(AtomicFile, ReportsTheStepThatFailed) {
  TempDir dir;
  writeFile(dir.file("plain"), "");
  fs::create_directories(dir.file("folder/inside"));
  const WriteResult notAFolder = writeFileAtomically(dir.file("plain/x"), "x", 1);
  EXPECT_EQ(notAFolder.failedStep, WriteStep::kCreate);
  EXPECT_EQ(notAFolder.errnoValue, ENOTDIR);
  // The temporary file was written before the rename failed; it must go again.
  const WriteResult ontoFolder = writeFileAtomically(dir.file("folder"), "x", 1);
  EXPECT_EQ(ontoFolder.failedStep, WriteStep::kReplace);
  EXPECT_NE(ontoFolder.errnoValue, 0);
  EXPECT_EQ(writeFileAtomically("", "x", 1).failedStep, WriteStep::kCreate);
  EXPECT_EQ(dir.names(), (std::set<std::string>{"folder", "plain"}));
}

}  // namespace
}  // namespace platform
