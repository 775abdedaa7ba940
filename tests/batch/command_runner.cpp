#include "tests/batch/command_runner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// The name of a NAME=value entry.
std::string variableName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Everything the child needs, made before fork: after it only plain system calls are made.
struct Launch {
  std::string program = QUORVANE_THUMB;
  std::vector<std::string> args;
  std::vector<std::string> environment;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string folder, in, out, err;
  RunOptions options;
  int terminal = -1;  // the pseudo-terminal's far side, for standard error

  void prepare() {
    argv.push_back(program.data());
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> overridden{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                        "LSAN_OPTIONS"};
    for (const std::string& entry : options.environment) overridden.push_back(variableName(entry));
    // No display and no Qt platform: the command must not need one.
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable = *entry;
      if (std::find(overridden.begin(), overridden.end(), variableName(variable)) ==
          overridden.end()) {
        environment.push_back(variable);
      }
    }
    environment.push_back("LSAN_OPTIONS=suppressions=" QUORVANE_LSAN_SUPPRESSIONS);
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
  }
};

[[noreturn]] void execThumb(Launch& launch) {
  const int outFd = ::open(launch.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errFd = launch.terminal >= 0
                        ? launch.terminal
                        : ::open(launch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int inFd = ::open(launch.in.c_str(), O_RDONLY);
  if (outFd < 0 || errFd < 0 || inFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
      ::dup2(inFd, 0) < 0 || ::chdir(launch.folder.c_str()) != 0) {
    ::_exit(127);
  }
  if (launch.options.asOrdinaryUser) {
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
      ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
  }
  // As from a terminal's shell: Ctrl-C and the others have their usual effect, whatever the test
  // program was started with (a background job ignores SIGINT).
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(launch.program.c_str(), launch.argv.data(), launch.envp.data());
  ::_exit(127);
}

// What the command wrote to the terminal, once it has ended.
std::string drain(int terminal) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

// True once the child has ended (it is left to be waited for).
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

}  // namespace

struct RunningThumb::Files {
  testsupport::TempFolder folder{"quorvane-thumb-output"};
  std::string out = folder.file("out");
  std::string err = folder.file("err");
  int near = -1;  // the pseudo-terminal's near side, when standard error is one

  ~Files() {
    if (near >= 0) ::close(near);
  }
};

RunningThumb::RunningThumb(pid_t pid, std::unique_ptr<Files> files)
    : pid_(pid), files_(std::move(files)) {}

RunningThumb::RunningThumb(RunningThumb&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), files_(std::move(other.files_)) {}

RunningThumb::~RunningThumb() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

bool RunningThumb::waitForName(const fs::path& folder,
                               const std::function<bool(const std::string& name)>& wanted) const {
  const auto anyWanted = [&] {
    for (const std::string& name : testsupport::namesIn(folder)) {
      if (wanted(name)) return true;
    }
    return false;
  };
  const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return false;
  // Watched before the first look, so that no name made in between is missed.
  if (::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
    ::close(watch);
    return false;
  }
  bool found = anyWanted();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!found && pid_ > 0 && !hasEnded(pid_) && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{watch, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    alignas(inotify_event) char buffer[8192];
    const ssize_t got = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got && !found;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      found = event->len > 0 && wanted(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  ::close(watch);
  return found || anyWanted();
}

CommandResult RunningThumb::wait() {
  CommandResult result;
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  pid_ = -1;
  result.out = testsupport::readText(files_->out);
  result.err = files_->near >= 0 ? drain(files_->near) : testsupport::readText(files_->err);
  return result;
}

RunningThumb startThumb(const std::vector<std::string>& args, const fs::path& folder,
                        RunOptions options) {
  auto files = std::make_unique<RunningThumb::Files>();
  Launch launch;
  launch.args = args;
  launch.folder = folder.string();
  launch.in = files->folder.file("in");
  launch.out = files->out;
  launch.err = files->err;
  launch.options = std::move(options);
  testsupport::writeText(launch.in, launch.options.input);
  launch.prepare();
  if (launch.options.errorsOnTerminal &&
      ::openpty(&files->near, &launch.terminal, nullptr, nullptr, nullptr) != 0) {
    return RunningThumb(-1, std::move(files));
  }
  const pid_t child = ::fork();
  if (child == 0) execThumb(launch);
  if (launch.terminal >= 0) ::close(launch.terminal);
  return RunningThumb(child, std::move(files));
}

CommandResult runThumb(const std::vector<std::string>& args, const fs::path& folder,
                       RunOptions options) {
  return startThumb(args, folder, std::move(options)).wait();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}
