#include "platform/base/runtime_error.h"

#include <cerrno>

namespace platform {

std::string errorDescription(int number) {
  switch (number) {
    case kErrInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrDivisionByZero:
      return "Division by zero";
    case kErrTypeMismatch:
      return "Type mismatch";
    case kErrInternal:
      return "Internal error";
    case kErrFileNotFound:
      return "File not found";
    case kErrDeviceIO:
      return "Device I/O error";
    case kErrDiskFull:
      return "Disk full";
    case kErrDeviceUnavailable:
      return "Device unavailable";
    case kErrPermissionDenied:
      return "Permission denied";
    case kErrPathFileAccess:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    case kErrInvalidPropertyValue:
      return "Invalid property value";
    case kErrCantCreateAutoRedrawImage:
      return "Can't create AutoRedraw image";
    case kErrInvalidPicture:
      return "Invalid picture";
    default:
      return "Application-defined or object-defined error";
  }
}

RuntimeError::RuntimeError(int number, const std::string& description)
    : std::runtime_error(description.empty() ? errorDescription(number) : description),
      number_(number),
      description_(what()) {}

void raiseError(int number, const std::string& description) {
  throw RuntimeError(number, description);
}

void raiseFileError(int errnoValue, const std::string& path) {
  switch (errnoValue) {
    case ENOENT:
      raiseError(kErrFileNotFound, "File not found: " + path);
    case ENOTDIR:
      raiseError(kErrPathNotFound, "Path not found: " + path);
    case EACCES:
    case EPERM:
    case EROFS:
      raiseError(kErrPermissionDenied, "Permission denied: " + path);
    case ENOSPC:
    case EDQUOT:
      raiseError(kErrDiskFull, "Disk full: " + path);
    case EIO:
      raiseError(kErrDeviceIO, "Device I/O error: " + path);
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      raiseError(kErrDeviceUnavailable, "Device unavailable: " + path);
    default:
      raiseError(kErrPathFileAccess, "Path/File access error: " + path);
  }
}

}  // namespace platform
