// The batch command's command line.
#pragma once

#include <string>
#include <vector>

#include "batch/durability.h"
#include "batch/thumbnail.h"

namespace thumb {

struct Options {
  int size = 125;
  int jobs = 0;  // 0: one per core
  platform::Color background = kDefaultBackColor;
  SyncMode sync = SyncMode::kEnd;
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
