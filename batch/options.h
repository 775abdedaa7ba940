// The batch command's command line.
#pragma once

#include <string>
#include <vector>

#include "batch/durability.h"
#include "batch/thumbnail.h"

namespace thumb {

inline constexpr int kMaxJobs = 1024;

struct Options {
  int size = 125;
  int jobs = 0;  // 0: one per core
  platform::Color background = kDefaultBackColor;
  SyncMode sync = SyncMode::kEnd;
  std::string outputDir;       // -o: thumbnails go under it instead of beside their pictures
  std::string outputFile;      // --output: the one picture's thumbnail goes here ("-": stdout)
  std::string filesFrom;       // --files-from: a list of pictures ("-": stdin)
  bool nullSeparated = false;  // the list's entries end with NUL, not newline
  bool noEnlarge = false;      // a picture smaller than the size keeps its own
  bool recursive = false;
  bool skipExisting = false;
  bool dryRun = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> operands;  // files and folders
};

// Reads the arguments after the program's name. False on bad usage, with the reason in `error`.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The text --help prints.
std::string usageText();

}  // namespace thumb
