#include "batch/options.h"

#include <charconv>
#include <iterator>
#include <utility>

#include "platform/base/limits.h"

namespace thumb {
namespace {

bool parseNumber(const std::string& text, int low, int high, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  return status == std::errc() && stop == end && !text.empty() && value >= low && value <= high;
}

// "#rrggbb", six hexadecimal digits.
bool parseColor(const std::string& text, platform::Color& color) {
  if (text.size() != 7 || text[0] != '#') return false;
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data() + 1, end, value, 16);
  if (status != std::errc() || stop != end || text[1] == '+' || text[1] == '-') return false;
  color = {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
           static_cast<std::uint8_t>(value)};
  return true;
}

using Apply = bool (*)(const std::string& value, Options& options, std::string& error);

// One option: its letter (0: none), its long name, and what it does with its value (a flag's
// value is empty).
struct Spec {
  char letter;
  const char* name;
  bool takesValue;
  Apply apply;
};

template <bool Options::*kFlag>
bool setFlag(const std::string&, Options& options, std::string&) {
  options.*kFlag = true;
  return true;
}

template <std::string Options::*kText>
bool setText(const std::string& value, Options& options, std::string& error) {
  if (value.empty()) {
    error = "an empty name is not a file";
    return false;
  }
  options.*kText = value;
  return true;
}

bool setSize(const std::string& value, Options& options, std::string& error) {
  if (parseNumber(value, 1, platform::kMaxPictureSide, options.size)) return true;
  error = "invalid size '" + value + "': a whole number of pixels from 1 to " +
          std::to_string(platform::kMaxPictureSide);
  return false;
}

bool setJobs(const std::string& value, Options& options, std::string& error) {
  if (parseNumber(value, 1, kMaxJobs, options.jobs)) return true;
  error = "invalid number of jobs '" + value + "': 1 to " + std::to_string(kMaxJobs);
  return false;
}

bool setBackground(const std::string& value, Options& options, std::string& error) {
  if (parseColor(value, options.background)) return true;
  error = "invalid background colour '" + value + "': #rrggbb, as #efefef";
  return false;
}

bool setSync(const std::string& value, Options& options, std::string& error) {
  const std::pair<const char*, SyncMode> modes[] = {
      {"each", SyncMode::kEach}, {"end", SyncMode::kEnd}, {"none", SyncMode::kNone}};
  for (const auto& [name, mode] : modes) {
    if (value == name) {
      options.sync = mode;
      return true;
    }
  }
  error = "invalid sync mode '" + value + "': each, end or none";
  return false;
}

constexpr Spec kSpecs[] = {
    {'s', "size", true, setSize},
    {'j', "jobs", true, setJobs},
    {'r', "recursive", false, setFlag<&Options::recursive>},
    {'o', "output-dir", true, setText<&Options::outputDir>},
    {0, "output", true, setText<&Options::outputFile>},
    {0, "files-from", true, setText<&Options::filesFrom>},
    {'0', "null", false, setFlag<&Options::nullSeparated>},
    {0, "no-enlarge", false, setFlag<&Options::noEnlarge>},
    {0, "background", true, setBackground},
    {0, "skip-existing", false, setFlag<&Options::skipExisting>},
    {0, "sync", true, setSync},
    {'n', "dry-run", false, setFlag<&Options::dryRun>},
    {'h', "help", false, setFlag<&Options::help>},
    {0, "version", false, setFlag<&Options::version>},
};

const Spec* findLong(const std::string& name) {
  for (const Spec& spec : kSpecs) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const Spec* findShort(char letter) {
  for (const Spec& spec : kSpecs) {
    if (spec.letter != 0 && spec.letter == letter) return &spec;
  }
  return nullptr;
}

// One argument starting with "--": "--name", "--name=value" or "--name value".
bool parseLong(const std::vector<std::string>& args, size_t& i, Options& options,
               std::string& error) {
  const std::string& arg = args[i];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
  const Spec* spec = findLong(name);
  if (spec == nullptr || (!spec->takesValue && equals != std::string::npos)) {
    error = "unrecognized option '" + arg + "'";
    return false;
  }
  if (!spec->takesValue) return spec->apply({}, options, error);
  if (equals != std::string::npos) return spec->apply(arg.substr(equals + 1), options, error);
  if (i + 1 >= args.size()) {
    error = "option '--" + name + "' needs a value";
    return false;
  }
  return spec->apply(args[++i], options, error);
}

// One argument of single-letter options, which may be grouped: "-rn", "-s60", "-s 60".
bool parseShort(const std::vector<std::string>& args, size_t& i, Options& options,
                std::string& error) {
  const std::string& arg = args[i];
  for (size_t k = 1; k < arg.size(); ++k) {
    const Spec* spec = findShort(arg[k]);
    if (spec == nullptr) {
      error = std::string("invalid option -- '") + arg[k] + "'";
      return false;
    }
    if (!spec->takesValue) {
      if (!spec->apply({}, options, error)) return false;
      continue;
    }
    if (k + 1 < arg.size()) return spec->apply(arg.substr(k + 1), options, error);
    if (i + 1 >= args.size()) {
      error = std::string("option requires an argument -- '") + arg[k] + "'";
      return false;
    }
    return spec->apply(args[++i], options, error);
  }
  return true;
}

// Options that cannot go together.
bool checkCombination(const Options& options, std::string& error) {
  if (options.help || options.version) return true;
  if (options.operands.empty() && options.filesFrom.empty()) {
    error = "no picture or folder given";
    return false;
  }
  if (!options.outputFile.empty() && !options.outputDir.empty()) {
    error = "--output and --output-dir cannot go together";
    return false;
  }
  if (!options.outputFile.empty() && (options.operands.size() != 1 || !options.filesFrom.empty())) {
    error = "--output takes exactly one picture";
    return false;
  }
  if (options.nullSeparated && options.filesFrom.empty()) {
    error = "--null goes with --files-from";
    return false;
  }
  return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      options.operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg.starts_with("--") ? !parseLong(args, i, options, error)
                                     : !parseShort(args, i, options, error)) {
      return false;
    }
  }
  return checkCombination(options, error);
}

std::string usageText() {
  return "Usage: quorvane-thumb [OPTION]... FILE_OR_FOLDER...\n"
         "  or:  quorvane-thumb [OPTION]... --files-from=LIST\n"
         "Makes a JPEG thumbnail of each picture, beside it or under the folder -o names:\n"
         "thumb_NAME of a JPEG or GIF picture, exactly as Quorvane's Create Thumbnail\n"
         "writes it; thumb_NAME.jpg of a PNG, WebP, TIFF, HEIC/HEIF or AVIF picture, the\n"
         "same thumbnail of that format (alpha over the background colour).\n"
         "Folders are searched for *.jpg, *.jpeg, *.jpe, *.jfif, *.gif, *.png, *.webp,\n"
         "*.tif, *.tiff, *.heic, *.heif and *.avif (any case); hidden files and folders\n"
         "and thumb_* files are left out.\n"
         "\n"
         "  -s, --size=SIZE      longer side of the thumbnail in pixels (default 125, at most " +
         std::to_string(platform::kMaxPictureSide) +
         ")\n"
         "      --no-enlarge     a picture smaller than SIZE keeps its own size\n"
         "  -r, --recursive      search folders' subfolders too\n"
         "  -o, --output-dir=DIR write the thumbnails under DIR (made as needed): a folder's\n"
         "                       tree is kept below it, a file's thumbnail goes straight in\n"
         "      --output=FILE    write the one picture's thumbnail to FILE ('-': standard\n"
         "                       output)\n"
         "      --files-from=LIST  make the pictures named in LIST, one a line ('-': standard\n"
         "                       input); folders in it are searched as on the command line\n"
         "  -0, --null           the names in LIST end with a NUL byte (find -print0), so\n"
         "                       that any name, newlines and all, can be given\n"
         "  -j, --jobs=JOBS      pictures made at once (default: one per processor, at most " +
         std::to_string(kMaxJobs) +
         ")\n"
         "      --background=COLOR\n"
         "                       the canvas colour behind transparent pixels, #rrggbb\n"
         "                       (default #efefef, the window's under the default palette)\n"
         "      --skip-existing  leave out pictures whose thumbnail is newer than they are and\n"
         "                       whole (an empty or cut-short thumbnail is made again)\n"
         "      --sync=MODE      when thumbnails are made durable: 'end' (default) syncs each\n"
         "                       file system written to once, when the run ends or is\n"
         "                       interrupted; 'each' syncs every file before it takes its\n"
         "                       name (slow on memory cards and network shares); 'none'\n"
         "                       leaves it to the system\n"
         "  -n, --dry-run        print the thumbnails that would be written; write nothing\n"
         "  -h, --help           print this help and exit\n"
         "      --version        print the version and exit\n"
         "\n"
         "Exit status: 0 when every thumbnail was made, 1 when some failed (the others are\n"
         "still made; each failure is one line on standard error), 2 for bad usage, 128 + N\n"
         "when stopped by signal N (Ctrl-C: 130; a second Ctrl-C stops at once).\n";
}

}  // namespace thumb
