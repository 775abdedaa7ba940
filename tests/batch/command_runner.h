// Runs the built quorvane-thumb as a user would, with no display, and collects what it said.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct CommandResult {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

struct RunOptions {
  bool asOrdinaryUser = false;    // without root's power to write into read-only folders
  bool errorsOnTerminal = false;  // standard error is a terminal (a pseudo-terminal)
};

// Runs quorvane-thumb with `args` in `folder` (its working folder).
CommandResult runThumb(const std::vector<std::string>& args, const std::filesystem::path& folder,
                       RunOptions options = {});

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);
