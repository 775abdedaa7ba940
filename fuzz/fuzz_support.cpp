#include "fuzz/fuzz_support.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "platform/picture/qt/gif_decode.h"

namespace fuzz {

void startQt(int* argc, char*** argv) {
  // Lives as long as the process: libFuzzer never returns from its loop.
  static QCoreApplication* app = new QCoreApplication(*argc, *argv);
  (void)app;
  platform::installQtGifDecoder();
}

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

std::uint32_t hashOf(const std::uint8_t* data, std::size_t size) {
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

}  // namespace fuzz
