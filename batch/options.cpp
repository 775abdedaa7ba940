#include "batch/options.h"

#include <charconv>
#include <utility>

#include "batch/thumbnail.h"
#include "platform/base/limits.h"

namespace thumb {
namespace {

constexpr int kMaxJobs = 1024;

bool parseNumber(const std::string& text, int low, int high, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  return status == std::errc() && stop == end && !text.empty() && value >= low && value <= high;
}

// The value of -s or -j: the rest of the argument ("-s60", "--size=60") or the next one.
bool takeValue(const std::vector<std::string>& args, size_t& i, const std::string& attached,
               bool hasAttached, std::string& value) {
  if (hasAttached) {
    value = attached;
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
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

bool applyValue(char option, const std::string& value, Options& options, std::string& error) {
  if (option == 's') {
    if (parseNumber(value, 1, platform::kMaxPictureSide, options.size)) return true;
    error = "invalid size '" + value + "': a whole number of pixels from 1 to " +
            std::to_string(platform::kMaxPictureSide);
    return false;
  }
  if (option == 'y') {
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
  if (option == 'b') {
    if (parseColor(value, options.background)) return true;
    error = "invalid background colour '" + value + "': #rrggbb, as #efefef";
    return false;
  }
  if (parseNumber(value, 1, kMaxJobs, options.jobs)) return true;
  error = "invalid number of jobs '" + value + "': 1 to " + std::to_string(kMaxJobs);
  return false;
}

// One argument starting with "--".
bool parseLong(const std::vector<std::string>& args, size_t& i, Options& options,
               std::string& error) {
  const std::string& arg = args[i];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const bool hasAttached = equals != std::string::npos;
  const std::string attached = hasAttached ? arg.substr(equals + 1) : std::string();
  if (name == "--size" || name == "--jobs" || name == "--background" || name == "--sync") {
    std::string value;
    if (!takeValue(args, i, attached, hasAttached, value)) {
      error = "option '" + name + "' needs a value";
      return false;
    }
    return applyValue(name == "--sync" ? 'y' : name[2], value, options, error);
  }
  bool* flag = name == "--recursive"       ? &options.recursive
               : name == "--skip-existing" ? &options.skipExisting
               : name == "--dry-run"       ? &options.dryRun
               : name == "--help"          ? &options.help
               : name == "--version"       ? &options.version
                                           : nullptr;
  if (flag == nullptr || hasAttached) {
    error = "unrecognized option '" + arg + "'";
    return false;
  }
  *flag = true;
  return true;
}

// One argument of single-letter options, which may be grouped: "-rn", "-s60".
bool parseShort(const std::vector<std::string>& args, size_t& i, Options& options,
                std::string& error) {
  const std::string& arg = args[i];
  for (size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    if (letter == 's' || letter == 'j') {
      std::string value;
      if (!takeValue(args, i, arg.substr(k + 1), k + 1 < arg.size(), value)) {
        error = std::string("option requires an argument -- '") + letter + "'";
        return false;
      }
      return applyValue(letter, value, options, error);
    }
    if (letter == 'r') {
      options.recursive = true;
    } else if (letter == 'n') {
      options.dryRun = true;
    } else if (letter == 'h') {
      options.help = true;
    } else {
      error = std::string("invalid option -- '") + letter + "'";
      return false;
    }
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
  if (options.operands.empty() && !options.help && !options.version) {
    error = "no picture or folder given";
    return false;
  }
  return true;
}

std::string usageText() {
  return "Usage: quorvane-thumb [-s SIZE] [-j JOBS] [-r] [--skip-existing] [-n] FILE_OR_FOLDER...\n"
         "Makes a JPEG thumbnail thumb_NAME beside each JPEG or GIF picture, exactly as\n"
         "Quorvane's Create Thumbnail writes it. Folders are searched for *.jpg and *.gif\n"
         "(any case); hidden files and thumb_* files are left out.\n"
         "\n"
         "  -s, --size=SIZE      longer side of the thumbnail in pixels (default 125, at most " +
         std::to_string(platform::kMaxPictureSide) +
         ")\n"
         "  -j, --jobs=JOBS      pictures made at once (default: one per processor, at most " +
         std::to_string(kMaxJobs) +
         ")\n"
         "  -r, --recursive      search folders' subfolders too\n"
         "      --background=COLOR\n"
         "                       the canvas colour behind transparent GIF pixels, #rrggbb\n"
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
         "still made; each failure is one line on standard error), 2 for bad usage.\n";
}

}  // namespace thumb
