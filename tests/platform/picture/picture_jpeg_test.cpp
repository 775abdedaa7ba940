// The JPEG side of picture drawing: scale choice, EXIF, and decoding only the scans a scale uses.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "platform/base/runtime_error.h"
#include "platform/picture/exif.h"
#include "platform/picture/jpeg_decode.h"
#include "platform/picture/picture.h"
#include "platform/picture/scan_filter.h"
#include "tests/support/corpus.h"
#include "tests/support/images.h"
#include "tests/support/picture_writers.h"
#include "tests/support/runtime_errors.h"
#include "tests/support/temp_folder.h"

namespace platform {
namespace {

using testsupport::JpegOptions;
using testsupport::Rgb;
using testsupport::Sampling;

// Noise-like detail, so that AC scans carry most of the bytes.
testsupport::RgbImage detailed(int width, int height) {
  return testsupport::makeImage(width, height, [](int x, int y) {
    const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
    return Rgb{static_cast<int>((x * 3 + (h >> 24) / 4) & 0xFF),
               static_cast<int>((y * 2 + (h >> 16 & 0xFF) / 4) & 0xFF),
               static_cast<int>(((x + y) + (h >> 8 & 0xFF) / 4) & 0xFF)};
  });
}

TEST(JpegScale, SmallestEighthThatKeepsTwiceTheDrawnSize) {
  EXPECT_EQ(chooseJpegScale(5640, 3172, 125, 70), 1);         // 705 x 397
  EXPECT_EQ(chooseJpegScale(640, 480, 125, 94), 4);           // 320 x 240
  EXPECT_EQ(chooseJpegScale(1000, 750, 125, 94), 2);          // exactly 250 x 188
  EXPECT_EQ(chooseJpegScale(995, 750, 125, 94), 3);           // 249 would be short
  EXPECT_EQ(chooseJpegScale(2000, 100, 125, 6), 1);           // 250 x 13
  EXPECT_EQ(chooseJpegScale(640, 480, 640, 480), 8);          // no scale gives twice: full size
  EXPECT_EQ(chooseJpegScale(65500, 65500, 16384, 16384), 1);  // 8188 x 8188: under the limit
  EXPECT_EQ(scaledJpegSide(227, 1), 29);                      // rounded up, as libjpeg does
}

TEST(Exif, OrientationFromEitherByteOrderAndNothingFromBrokenData) {
  for (bool bigEndian : {false, true}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      EXPECT_EQ(exifOrientation(testsupport::exifWithOrientation(orientation, bigEndian)),
                orientation);
    }
    EXPECT_EQ(exifOrientation(testsupport::exifWithOrientation(0, bigEndian)), 1);
    EXPECT_EQ(exifOrientation(testsupport::exifWithOrientation(9, bigEndian)), 1);
  }
  const std::vector<std::uint8_t> good = testsupport::exifWithOrientation(6, false);
  for (size_t cut = 0; cut < good.size() - 8;
       ++cut) {  // the orientation's value is in the cut part
    EXPECT_EQ(exifOrientation(std::span(good).first(cut)), 1) << cut;
  }
  std::vector<std::uint8_t> farIfd = good;
  farIfd[10] = 0xFF;  // IFD0 offset far past the end
  EXPECT_EQ(exifOrientation(farIfd), 1);
  std::vector<std::uint8_t> manyEntries = good;
  manyEntries[14] = 0xFF;  // more entries than there are bytes
  manyEntries[15] = 0xFF;
  manyEntries[28] = 0;  // and the orientation tag hidden
  EXPECT_EQ(exifOrientation(manyEntries), 1);
  std::vector<std::uint8_t> notExif = good;
  notExif[0] = 'X';
  EXPECT_EQ(exifOrientation(notExif), 1);
}

TEST(ScanFilter, FindsMarkersPastStuffedBytesRestartsAndFill) {
  ComponentSet dropped{};
  dropped[1] = true;
  // Scan data with FF 00 and RST0, then an AC scan of component 1 (dropped), a DC scan, EOI.
  const std::vector<std::uint8_t> jpeg = {
      0x11, 0xFF, 0x00, 0x22, 0xFF, 0xD0, 0x33,                          // 0-6 kept data
      0xFF, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x3F, 0x00,  // 7-17 AC scan
      0x44, 0xFF, 0x00, 0x55,                                            // 18-21 its data
      0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x66,  // 22-32 DC scan
      0xFF, 0xD9, 0x77};                                                 // EOI, garbage
  const auto ranges = keptRanges(jpeg, 0, dropped);
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].begin, 0u);
  EXPECT_EQ(ranges[0].end, 7u);
  EXPECT_EQ(ranges[1].begin, 22u);
  EXPECT_EQ(ranges[1].end, 35u);  // stops after EOI
  // Nothing dropped: everything up to EOI in one piece.
  const auto all = keptRanges(jpeg, 0, ComponentSet{});
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].end, 35u);
  // Cut inside a marker segment: kept to the end, no overrun.
  const auto cut = keptRanges(std::span(jpeg).first(10), 0, dropped);
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(cut.back().end, 10u);
}

// Decoding only the DC scans (and the AC scans of components still above 1x1) must give the
// very pixels of a full decode at the same scale, block smoothing off in both.
void expectSamePixelsFromFewerScans(const std::vector<std::uint8_t>& jpeg,
                                    const std::string& name) {
  SCOPED_TRACE(name);
  JpegDecoder decoder;
  const ScaledJpeg full = decoder.decodeScaled(jpeg, 1, false);
  const size_t fullBytes = decoder.bytesRead();
  const ScaledJpeg fewer = decoder.decodeScaled(jpeg, 1, true);
  EXPECT_LE(decoder.bytesRead(), fullBytes);
  ASSERT_EQ(fewer.width, full.width);
  ASSERT_EQ(fewer.height, full.height);
  ASSERT_EQ(fewer.channels, full.channels);
  EXPECT_TRUE(fewer.pixels == full.pixels);
}

TEST(ScanFilter, DcOnlyDecodeMatchesFullDecodeOnMadeProgressiveFiles) {
  const testsupport::RgbImage source = detailed(333, 251);
  for (Sampling sampling : {Sampling::k444, Sampling::k422, Sampling::k420, Sampling::kGrey}) {
    for (bool arithmetic : {false, true}) {
      JpegOptions options{sampling, 85, true, arithmetic};
      const auto jpeg = testsupport::encodeJpeg(source, options);
      expectSamePixelsFromFewerScans(jpeg, "sampling " +
                                               std::to_string(static_cast<int>(sampling)) +
                                               (arithmetic ? " arithmetic" : " huffman"));
      JpegDecoder decoder;
      decoder.decodeScaled(jpeg, 1, false);
      const size_t fullBytes = decoder.bytesRead();
      decoder.decodeScaled(jpeg, 1, true);
      // Every component of these is 1x1 at 1/8 (4:2:0's chroma is 2x2), so most bytes are skipped.
      if (sampling != Sampling::k420) {
        EXPECT_LT(decoder.bytesRead() * 3, fullBytes);
      }
    }
  }
}

TEST(ScanFilter, DcOnlyDecodeMatchesFullDecodeOnCorpusAndPhotos) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator("/usr/share/backgrounds", error)) {
    if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  }
  if (files.empty()) SKIP_WITHOUT_CORPUS() << " and no photos in /usr/share/backgrounds";
  if (!testsupport::corpusPresent()) {
    std::cout << "no decoder corpus at " << testsupport::corpusDir().string()
              << ": the photos only\n";
  }
  const std::filesystem::path corpus = testsupport::corpusDir() / "jpeg/libjpeg-turbo";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("prog_")) files.push_back(entry.path());
  }
  int progressive = 0;
  for (const auto& path : files) {
    const std::vector<std::uint8_t> jpeg = testsupport::readBytes(path);
    if (!JpegDecoder().readHeader(jpeg).progressive) continue;
    ++progressive;
    expectSamePixelsFromFewerScans(jpeg, path.string());
  }
  EXPECT_GT(progressive, 0);
}

// quorvane-thumb holds only the bytes its one drawing reads: they draw exactly as the whole file
// at that size and below; a drawing that needs more, or a baseline file, keeps them all.
TEST(ScanFilter, APictureKeepsOnlyTheBytesItsDrawingReads) {
  const testsupport::RgbImage source = detailed(800, 600);
  for (Sampling sampling : {Sampling::k444, Sampling::k420, Sampling::kGrey}) {
    for (const bool cut : {false, true}) {
      JpegOptions options{sampling, 90, true};
      options.app1 = testsupport::exifWithOrientation(6, false);  // 600 x 800 upright
      std::vector<std::uint8_t> jpeg = testsupport::encodeJpeg(source, options);
      if (cut) jpeg.resize(jpeg.size() * 3 / 4);
      std::ostringstream named;
      named << sampling << (cut ? " cut short" : "");
      const std::string what = named.str();
      const auto whole = loadPictureFromBytes(jpeg);
      const auto kept = keepBytesForDrawing(whole, 30, 40);
      EXPECT_LT(kept->bytes().size() * 2, whole->bytes().size()) << what;
      for (const auto& [w, h] : {std::pair{30, 40}, {15, 20}, {1, 1}}) {
        EXPECT_TRUE(renderPicture(*kept, w, h).pixels == renderPicture(*whole, w, h).pixels)
            << what << " at " << w << "x" << h;
      }
      EXPECT_EQ(keepBytesForDrawing(whole, 600, 800), whole) << what;
    }
  }
  const auto baseline = loadPictureFromBytes(testsupport::encodeJpeg(source, {Sampling::k444, 90}));
  EXPECT_EQ(keepBytesForDrawing(baseline, 60, 45), baseline);
}

// A decoder keeps its coefficient memory from picture to picture: nothing a larger picture left
// there may show through the scans a cut-short picture lacks.
TEST(JpegDecoder, KeptCoefficientMemoryStartsCleanForEachPicture) {
  const auto large = testsupport::encodeJpeg(detailed(640, 480), {Sampling::k444, 95, true});
  auto cut = testsupport::encodeJpeg(detailed(320, 240), {Sampling::k444, 85, true});
  cut.resize(cut.size() / 2);
  JpegDecoder reused;
  reused.decodeScaled(large, 8, false);
  const ScaledJpeg after = reused.decodeScaled(cut, 8, false);
  const ScaledJpeg fresh = JpegDecoder().decodeScaled(cut, 8, false);
  EXPECT_TRUE(after.pixels == fresh.pixels);
}

TEST(ScanFilter, ScaledDecodeOfTruncatedProgressiveFileStillWorks) {
  auto jpeg = testsupport::encodeJpeg(detailed(200, 120), {Sampling::k420, 85, true});
  jpeg.resize(jpeg.size() * 2 / 3);
  JpegDecoder decoder;
  const ScaledJpeg image = decoder.decodeScaled(jpeg, 1, true);
  EXPECT_EQ(image.width, 25);
  EXPECT_EQ(image.height, 15);
}

// A crafted progressive file can hold any number of scans, each of which costs a pass over the
// coefficients: past a limit no encoder comes near, it is refused instead of decoded for long.
TEST(JpegDecoder, RefusesMoreScansThanAnyEncoderWrites) {
  JpegOptions options(Sampling::k444, 90, true);
  options.everyBitAScan = true;
  const std::vector<std::uint8_t> crafted = testsupport::encodeJpeg(detailed(16, 16), options);
  const std::shared_ptr<const EncodedPicture> picture = loadPictureFromBytes(crafted);
  EXPECT_RUNTIME_ERROR(renderPicture(*picture, 16, 16), kErrInvalidPicture);
  // The same picture with the usual progression draws.
  const std::shared_ptr<const EncodedPicture> usual =
      loadPictureFromBytes(testsupport::encodeJpeg(detailed(16, 16), {Sampling::k444, 90, true}));
  EXPECT_EQ(renderPicture(*usual, 16, 16).width, 16);
}

}  // namespace
}  // namespace platform
