#include "platform/picture/jpeg_decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// clang-format off
#include <cstdio>  // before jerror.h's users, which need FILE and size_t
#include <jerror.h>
// clang-format on

#include "platform/base/runtime_error.h"
#include "platform/picture/exif.h"
#include "platform/picture/jpeg_coefficients.h"
#include "platform/picture/jpeg_guard.h"
#include "platform/picture/picture_facts.h"
#include "platform/picture/resample.h"
#include "platform/picture/scan_filter.h"

namespace platform {
namespace {

constexpr int kExifMarker = JPEG_APP0 + 1;
constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr unsigned kWholeMarker = 0xFFFF;
constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
// More scans than any encoder writes; a crafted file could otherwise decode for very long.
constexpr int kMaxScans = 1000;
// libjpeg's own memory (a progressive file's coefficients); past it, it fails cleanly.
constexpr long kMaxLibjpegMemory = 1L << 30;

void checkScanCount(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    failJpeg(cinfo, "Too many scans");
  }
}

// How libjpeg's output rows become the resampler's rows.
struct OutputPlan {
  SourcePixels pixels = SourcePixels::kRgb;
  bool cmyk = false;
  bool inverted = false;                     // Adobe's CMYK: 0 is full ink
  const ColourConversion* colour = nullptr;  // to sRGB, in place of the plain CMYK conversion
};

// The pixels libjpeg gives for the file's colour space, as a colour profile sees them.
ColourPixels colourPixelsOf(const jpeg_decompress_struct& cinfo) {
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      return ColourPixels::kGrey;
    case JCS_CMYK:
    case JCS_YCCK:
      return cinfo.saw_Adobe_marker ? ColourPixels::kCmykInverted : ColourPixels::kCmyk;
    default:
      return ColourPixels::kRgb;
  }
}

OutputPlan planOutput(jpeg_decompress_struct& cinfo) {
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = TRUE;
  // Off: with scans left out it would invent AC coefficients; without, it changes nothing.
  cinfo.do_block_smoothing = FALSE;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      return {SourcePixels::kGrey, false, false};
    case JCS_CMYK:
    case JCS_YCCK:  // libjpeg turns YCCK into CMYK
      cinfo.out_color_space = JCS_CMYK;
      return {SourcePixels::kRgb, true, cinfo.saw_Adobe_marker != 0};
    default:
      cinfo.out_color_space = JCS_RGB;
      return {SourcePixels::kRgb, false, false};
  }
}

// The same, the pixels turned into sRGB by `colour` when it is for them.
OutputPlan planOutput(jpeg_decompress_struct& cinfo, const ColourConversion* colour) {
  OutputPlan plan = planOutput(cinfo);
  if (colour != nullptr && colour->input() == colourPixelsOf(cinfo)) {
    plan.pixels = SourcePixels::kRgb;
    plan.colour = colour;
  }
  return plan;
}

void cmykToRgb(const std::uint8_t* cmyk, std::uint8_t* rgb, int width, bool inverted) {
  const int flip = inverted ? 0 : 255;
  for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const int k = cmyk[3] ^ flip;
    for (int c = 0; c < 3; ++c)
      rgb[c] = static_cast<std::uint8_t>(((cmyk[c] ^ flip) * k + 127) / 255);
  }
}

bool isExif(const jpeg_saved_marker_ptr marker) {
  return marker->marker == kExifMarker && marker->data_length >= sizeof kExifSignature &&
         std::memcmp(marker->data, kExifSignature, sizeof kExifSignature) == 0;
}

}  // namespace

int chooseJpegScale(int width, int height, int outWidth, int outHeight) {
  int scale = 8;
  for (int m = 1; m <= 8; ++m) {
    if (scaledJpegSide(width, m) >= 2 * std::int64_t{outWidth} &&
        scaledJpegSide(height, m) >= 2 * std::int64_t{outHeight}) {
      scale = m;
      break;
    }
  }
  while (scale > 0 &&
         scaledJpegSide(width, scale) * scaledJpegSide(height, scale) > kMaxPicturePixels) {
    --scale;
  }
  return scale;
}

struct JpegDecoder::State {
  jpeg_decompress_struct cinfo;
  JpegErrorManager errors;
  jpeg_progress_mgr progress;
  ScanFilterSource source;
  CoefficientMemory coefficients;
  bool created = false;
  std::vector<std::uint8_t> rows;
  std::vector<JSAMPROW> rowPointers;
  std::vector<std::uint8_t> rgb;

  // Returns the decompressor to its idle state, whatever happened.
  class Session final {
   public:
    explicit Session(State& state) : state_(state) {}
    ~Session() { jpeg_abort_decompress(&state_.cinfo); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

   private:
    State& state_;
  };

  // `saveMarkers` keeps the EXIF and ICC profile markers for reading.
  void readHeader(std::span<const std::uint8_t> jpeg, bool saveMarkers) {
    clearWarnings(errors);
    source.attach(&cinfo, jpeg);
    guarded(errors, [this, saveMarkers] {
      jpeg_save_markers(&cinfo, kExifMarker, saveMarkers ? kWholeMarker : 0);
      jpeg_save_markers(&cinfo, kIccMarker, saveMarkers ? kWholeMarker : 0);
      jpeg_read_header(&cinfo, TRUE);
    });
    if (cinfo.jpeg_color_space == JCS_UNKNOWN) raiseError(kErrInvalidPicture);
    const int width = static_cast<int>(cinfo.image_width);
    const int height = static_cast<int>(cinfo.image_height);
    // A progressive file keeps every coefficient of the full-size picture while decoding.
    if ((cinfo.progressive_mode && std::int64_t{width} * height > kMaxPicturePixels) ||
        chooseJpegScale(width, height, 1, 1) == 0) {
      raisePictureTooLarge(width, height);
    }
  }

  // The output dimensions at scale/8, each component's scaled DCT size with them.
  void scaleTo(int scale) {
    cinfo.scale_num = static_cast<unsigned>(scale);
    cinfo.scale_denom = 8;
    guarded(errors, [this] { jpeg_calc_output_dimensions(&cinfo); });
  }

  void start(int scale, bool onlyUsedScans) {
    scaleTo(scale);
    if (onlyUsedScans && cinfo.progressive_mode) dropUnusedScans();
    guarded(errors, [this] { jpeg_start_decompress(&cinfo); });
  }

  // Components whose scaled DCT is 1x1 are drawn from their DC coefficients alone.
  void dropUnusedScans() {
    ComponentSet dropped{};
    if (unusedAcScans(dropped)) source.dropAcScans(&cinfo, dropped);
  }

  // The components whose AC scans the output dimensions leave unused; false when there are none.
  bool unusedAcScans(ComponentSet& dropped) const {
    ComponentSet dcOnly{};
    ComponentSet needsAc{};
    for (int ci = 0; ci < cinfo.num_components; ++ci) {
      const jpeg_component_info& component = cinfo.comp_info[ci];
#if JPEG_LIB_VERSION >= 70
      const bool oneByOne = component.DCT_h_scaled_size == 1 && component.DCT_v_scaled_size == 1;
#else
      const bool oneByOne = component.DCT_scaled_size == 1;
#endif
      (oneByOne ? dcOnly : needsAc)[component.component_id & 0xFF] = true;
    }
    bool any = false;
    for (size_t id = 0; id < dropped.size(); ++id) {
      dropped[id] = dcOnly[id] && !needsAc[id];
      any = any || dropped[id];
    }
    return any;
  }

  // Hands every output row to sink(row), converting CMYK to RGB when the plan says so.
  template <class Sink>
  void readRows(const OutputPlan& plan, Sink& sink) {
    const int width = static_cast<int>(cinfo.output_width);
    const size_t stride = static_cast<size_t>(width) * cinfo.output_components;
    const int batch = std::max(1, cinfo.rec_outbuf_height);
    rows.resize(stride * batch);
    rowPointers.resize(batch);
    for (int i = 0; i < batch; ++i) rowPointers[i] = &rows[stride * i];
    if (plan.cmyk || plan.colour != nullptr) rgb.resize(static_cast<size_t>(width) * 3);
    guarded(errors, [&] {
      while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, rowPointers.data(), batch);
        if (got == 0) break;
        for (JDIMENSION i = 0; i < got; ++i) {
          const std::uint8_t* row = rowPointers[i];
          if (plan.colour != nullptr) {
            plan.colour->convert(row, rgb.data(), width);
            row = rgb.data();
          } else if (plan.cmyk) {
            cmykToRgb(row, rgb.data(), width, plan.inverted);
            row = rgb.data();
          }
          sink(row);
        }
      }
    });
  }
};

JpegDecoder::JpegDecoder() : state_(std::make_unique<State>()) {
  State& s = *state_;
  std::memset(&s.cinfo, 0, sizeof s.cinfo);
  installErrorManager(reinterpret_cast<j_common_ptr>(&s.cinfo), s.errors);
  guarded(s.errors, [&s] { jpeg_create_decompress(&s.cinfo); });
  s.created = true;
  s.cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
  s.coefficients.attach(reinterpret_cast<j_common_ptr>(&s.cinfo), kMaxLibjpegMemory);
  std::memset(&s.progress, 0, sizeof s.progress);
  s.progress.progress_monitor = checkScanCount;
  s.cinfo.progress = &s.progress;
}

JpegDecoder::~JpegDecoder() {
  if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

JpegHeader JpegDecoder::readHeader(std::span<const std::uint8_t> jpeg) {
  State& s = *state_;
  State::Session session(s);
  s.readHeader(jpeg, true);
  JpegHeader header;
  header.width = static_cast<int>(s.cinfo.image_width);
  header.height = static_cast<int>(s.cinfo.image_height);
  header.progressive = s.cinfo.progressive_mode != 0;
  bool adobeRgb = false;
  for (jpeg_saved_marker_ptr marker = s.cinfo.marker_list; marker; marker = marker->next) {
    if (isExif(marker)) {
      header.orientation = exifOrientation({marker->data, marker->data_length});
      adobeRgb = exifSaysAdobeRgb({marker->data, marker->data_length});
      break;
    }
  }
  const ColourPixels pixels = colourPixelsOf(s.cinfo);
  // A profile whose markers are missing, repeated or out of order is no profile; so is one libjpeg
  // fails on (it has no memory for it): the picture is drawn as untagged.
  JOCTET* read = nullptr;
  unsigned profileLength = 0;
  try {
    guarded(s.errors, [&] { jpeg_read_icc_profile(&s.cinfo, &read, &profileLength); });
  } catch (const RuntimeError&) {
    profileLength = 0;
  }
  const std::unique_ptr<JOCTET, decltype(&std::free)> profile(read, &std::free);
  if (profile != nullptr && profileLength > 0) {
    header.colour = colourConversion({profile.get(), profileLength}, pixels);
  } else if (adobeRgb) {
    header.colour = adobeRgbConversion(pixels);
  }
  return header;
}

RgbaImage JpegDecoder::render(std::span<const std::uint8_t> jpeg, int width, int height,
                              const ColourConversion* colour) {
  State& s = *state_;
  State::Session session(s);
  s.readHeader(jpeg, false);
  const int storedWidth = static_cast<int>(s.cinfo.image_width);
  const int storedHeight = static_cast<int>(s.cinfo.image_height);
  const int scale = chooseJpegScale(storedWidth, storedHeight, width, height);
  if (scale == 0) raisePictureTooLarge(storedWidth, storedHeight);
  const OutputPlan plan = planOutput(s.cinfo, colour);
  s.start(scale, true);
  // The scaled picture spans exactly size * scale / 8 pixels; libjpeg rounds the last one up.
  Resampler resampler(
      plan.pixels, {width, storedWidth * scale / 8.0, 0, static_cast<int>(s.cinfo.output_width)},
      {height, storedHeight * scale / 8.0, 0, static_cast<int>(s.cinfo.output_height)});
  auto sink = [&resampler](const std::uint8_t* row) { resampler.addRow(row); };
  s.readRows(plan, sink);
  return resampler.finish();
}

ScaledJpeg JpegDecoder::decodeScaled(std::span<const std::uint8_t> jpeg, int scale,
                                     bool onlyUsedScans) {
  State& s = *state_;
  State::Session session(s);
  s.readHeader(jpeg, false);
  OutputPlan plan = planOutput(s.cinfo);
  plan.cmyk = false;  // libjpeg's own output
  s.start(scale, onlyUsedScans);
  ScaledJpeg out;
  out.width = static_cast<int>(s.cinfo.output_width);
  out.height = static_cast<int>(s.cinfo.output_height);
  out.channels = s.cinfo.output_components;
  const size_t stride = static_cast<size_t>(out.width) * out.channels;
  out.pixels.resize(stride * out.height);
  std::uint8_t* next = out.pixels.data();
  auto sink = [&next, stride](const std::uint8_t* row) {
    std::memcpy(next, row, stride);
    next += stride;
  };
  s.readRows(plan, sink);
  return out;
}

std::vector<std::uint8_t> JpegDecoder::usedBytes(std::span<const std::uint8_t> jpeg, int width,
                                                 int height) {
  State& s = *state_;
  State::Session session(s);
  s.readHeader(jpeg, false);
  if (!s.cinfo.progressive_mode) return {};
  const int scale = chooseJpegScale(static_cast<int>(s.cinfo.image_width),
                                    static_cast<int>(s.cinfo.image_height), width, height);
  if (scale == 0) return {};
  planOutput(s.cinfo);  // as render() sets the decompressor up
  s.scaleTo(scale);
  ComponentSet dropped{};
  const size_t position = s.source.position();
  if (!s.unusedAcScans(dropped) || position == 0) return {};
  // The header as read so far, then what the scan filter would serve from there on.
  std::vector<std::uint8_t> used(jpeg.begin(),
                                 jpeg.begin() + static_cast<std::ptrdiff_t>(position));
  for (const ByteRange& range : keptRanges(jpeg, position, dropped)) {
    used.insert(used.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(range.begin),
                jpeg.begin() + static_cast<std::ptrdiff_t>(range.end));
  }
  return used;
}

size_t JpegDecoder::bytesRead() const { return state_->source.bytesServed(); }

std::string JpegDecoder::warning() const {
  const JpegErrorManager& errors = state_->errors;
  if (errors.warnings == 0) return {};
  switch (errors.firstWarningCode) {
    case JWRN_JPEG_EOF:
      return "ends early; the rest is grey";
    case JWRN_EXTRANEOUS_DATA:
      return "has stray bytes between its parts; drawn all the same";
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
      return "is damaged; part of it may be drawn wrong";
    default:
      return std::string("is damaged (") + errors.firstWarning + "); drawn as well as it could be";
  }
}

}  // namespace platform
