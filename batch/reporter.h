// What quorvane-thumb says on standard error: one line for each failure or warning, a progress
// line when standard error is a terminal, and the closing line. Safe to call from any worker.
#pragma once

#include <mutex>
#include <string>

namespace thumb {

class Reporter final {
 public:
  explicit Reporter(int total);

  // One line: the file, then the reason. A file error's description that ends with the file's
  // name already ("File not found: a.jpg") is not given the name twice.
  void failure(const std::string& path, const std::string& problem);
  // One line about something other than a picture (a folder whose sync failed); the run then
  // ends with status 1.
  void problem(const std::string& where, const std::string& problem);
  // One line: the file was made, but the decoder had to work around `problem`.
  void warning(const std::string& path, const std::string& problem);
  // The picture's thumbnail was written.
  void made();
  // The picture is done, made or not (moves the progress line on).
  void finished(const std::string& path);

  // The closing line; returns the exit status: 0 when nothing failed, 1 when something did.
  int close();
  // The closing line of a run stopped by a signal: how many of the pictures were made.
  void interrupted();

 private:
  void line(const std::string& path, const std::string& text);
  void clearProgress();

  std::mutex mutex_;
  int total_;
  int done_ = 0;
  int made_ = 0;
  int failed_ = 0;
  int warned_ = 0;
  int problems_ = 0;
  bool progress_;
};

}  // namespace thumb
