// Run-time errors: the failures a handler does not expect. Every event handler is run through
// runHandler (forms.h), which reports them as "Run-time error 'N':" and lets the program go on.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The error numbers the program raises, with the runtime's classic meaning.
enum ErrorNumber : int {
  kErrInvalidProcedureCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrDivisionByZero = 11,
  kErrInternal = 51,
  kErrTypeMismatch = 13,
  kErrFileNotFound = 53,
  kErrDeviceIO = 57,
  kErrDiskFull = 61,
  kErrDeviceUnavailable = 68,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
  kErrInvalidPropertyValue = 380,
  kErrCantCreateAutoRedrawImage = 480,
  kErrInvalidPicture = 481,
};

// The runtime's own description of an error number ("Type mismatch" for 13).
std::string errorDescription(int number);

class RuntimeError : public std::runtime_error {
 public:
  // Without a description the runtime's own is used.
  explicit RuntimeError(int number, const std::string& description = {});
  int number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

[[noreturn]] void raiseError(int number, const std::string& description = {});

// Maps an errno value from a failed file operation to the runtime's error (EIO, a read or write
// the device failed, is 57 "Device I/O error").
[[noreturn]] void raiseFileError(int errnoValue, const std::string& path);

}  // namespace platform
