// Runs the built quorvane-thumb as a user would, with no display, and collects what it said.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CommandResult {
  int status = -1;  // exit status; -1 when it did not exit normally
  int signal = 0;   // the signal that ended it, when one did
  std::string out;
  std::string err;
};

struct RunOptions {
  bool asOrdinaryUser = false;    // without root's power to write into read-only folders
  bool errorsOnTerminal = false;  // standard error is a terminal (a pseudo-terminal)
  std::string input = {};         // standard input's bytes (none: an empty input)
  std::vector<std::string> environment = {};  // NAME=value, over the test program's own
};

// A quorvane-thumb started and not yet waited for. It is killed and waited for when the object
// goes without wait() having been called, so that no test leaves a process behind.
class RunningThumb final {
 public:
  RunningThumb(RunningThumb&&) noexcept;
  ~RunningThumb();

  pid_t pid() const { return pid_; }
  // Waits (at most a minute) until a name in `folder` makes `wanted` true, watching the folder
  // for names that are made or renamed into it. False when the time ran out or the command ended
  // first.
  bool waitForName(const std::filesystem::path& folder,
                   const std::function<bool(const std::string& name)>& wanted) const;
  // Waits for the command to end; what it said.
  CommandResult wait();

 private:
  friend RunningThumb startThumb(const std::vector<std::string>&, const std::filesystem::path&,
                                 RunOptions);
  struct Files;
  RunningThumb(pid_t pid, std::unique_ptr<Files> files);
  pid_t pid_ = -1;
  std::unique_ptr<Files> files_;
};

// Starts quorvane-thumb with `args` in `folder` (its working folder).
RunningThumb startThumb(const std::vector<std::string>& args, const std::filesystem::path& folder,
                        RunOptions options = {});

// Runs quorvane-thumb with `args` in `folder` (its working folder) to its end.
CommandResult runThumb(const std::vector<std::string>& args, const std::filesystem::path& folder,
                       RunOptions options = {});

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);
