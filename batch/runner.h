// Runs the batch command: makes the thumbnails of the pictures a command line names, with one
// worker per job, and reports as command-line tools do.
#pragma once

#include <string>
#include <vector>

namespace thumb {

inline constexpr char kProgramName[] = "quorvane-thumb";
inline constexpr char kVersion[] = "1.00";

// The whole command: arguments after the program's name in, exit status out (0 all made, 1 some
// failed, 2 bad usage). Thumbnail names (-n) and --help go to standard output; failures, one line
// each, and a progress line when standard error is a terminal, to standard error.
int runCommand(const std::vector<std::string>& args);

}  // namespace thumb
