// The decoder corpus, read in place from QUORVANE_CORPUS_DIR (a CMake cache variable), and its
// manifest.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

const std::filesystem::path& corpusDir();
// True when the corpus and its manifest are there.
bool corpusPresent();

// A row of the manifest.
struct CorpusEntry {
  std::string file;      // relative to corpusDir()
  std::string format;    // jpeg, gif or bmp
  std::string expected;  // valid, questionable or invalid
  int width = -1;        // -1 where unknown (an EXIF photo's stored size, not turned)
  int height = -1;
};

// The manifest's rows of the given formats, in its order; none without a corpus.
std::vector<CorpusEntry> corpusEntries(const std::vector<std::string>& formats);

}  // namespace testsupport

// Skips the test, saying where the corpus was looked for, when it is absent. More of the message
// may be streamed after it.
#define SKIP_WITHOUT_CORPUS()          \
  if (!::testsupport::corpusPresent()) \
  GTEST_SKIP() << "no decoder corpus at " << ::testsupport::corpusDir().string()
