#include "tests/batch/command_runner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Everything the child needs, made before fork: after it only plain system calls are made.
struct Launch {
  std::string program = QUORVANE_THUMB;
  std::vector<std::string> args;
  std::vector<std::string> environment;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string folder, out, err;
  RunOptions options;
  int terminal = -1;  // the pseudo-terminal's far side, for standard error

  void prepare() {
    argv.push_back(program.data());
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // No display and no Qt platform: the command must not need one.
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable = *entry;
      if (variable.starts_with("DISPLAY=") || variable.starts_with("WAYLAND_DISPLAY=") ||
          variable.starts_with("QT_QPA_PLATFORM=") || variable.starts_with("LSAN_OPTIONS=")) {
        continue;
      }
      environment.push_back(variable);
    }
    environment.push_back("LSAN_OPTIONS=suppressions=" QUORVANE_LSAN_SUPPRESSIONS);
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
  }
};

[[noreturn]] void execThumb(Launch& launch) {
  const int outFd = ::open(launch.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errFd = launch.terminal >= 0
                        ? launch.terminal
                        : ::open(launch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int devNull = ::open("/dev/null", O_RDONLY);
  if (outFd < 0 || errFd < 0 || devNull < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
      ::dup2(devNull, 0) < 0 || ::chdir(launch.folder.c_str()) != 0) {
    ::_exit(127);
  }
  if (launch.options.asOrdinaryUser) {
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
      ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
  }
  ::execve(launch.program.c_str(), launch.argv.data(), launch.envp.data());
  ::_exit(127);
}

}  // namespace

// What the command wrote to the terminal, once it has ended.
std::string drain(int terminal) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

CommandResult runThumb(const std::vector<std::string>& args, const fs::path& folder,
                       RunOptions options) {
  CommandResult result;
  const testsupport::TempFolder outputs("quorvane-thumb-output");
  Launch launch;
  launch.args = args;
  launch.folder = folder.string();
  launch.out = outputs.file("out");
  launch.err = outputs.file("err");
  launch.options = options;
  launch.prepare();
  int near = -1;
  if (options.errorsOnTerminal &&
      ::openpty(&near, &launch.terminal, nullptr, nullptr, nullptr) != 0) {
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) execThumb(launch);
  if (launch.terminal >= 0) ::close(launch.terminal);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  result.out = testsupport::readText(launch.out);
  result.err = near >= 0 ? drain(near) : testsupport::readText(launch.err);
  if (near >= 0) ::close(near);
  return result;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}
