// Whole-or-nothing files: the mode of a new file, names of any bytes, and the step that failed.
#include "platform/base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace platform {
namespace {

using Names = std::vector<std::string>;

TEST(AtomicFile, WritesWithTheModeOfANewFileAndLeavesNoTemporaryFile) {
  testsupport::TempFolder dir;
  const std::string file = dir.file("data.bin");
  testsupport::writeText(file, "old contents, longer than the new ones");
  chmod(file.c_str(), 0600);
  const mode_t mask = umask(022);
  umask(mask);
  const std::string bytes("new\0bytes", 9);
  const WriteResult result = writeFileAtomically(file, bytes.data(), bytes.size());
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(testsupport::readText(file), bytes);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);
  EXPECT_EQ(dir.names(), Names{"data.bin"});
}

TEST(AtomicFile, TakesNamesOfAnyBytesAndAnyLength) {
  testsupport::TempFolder dir;
  std::string longName;
  while (longName.size() < 250) longName += "\xC3\xA9";  // é: a temporary name must not split it
  longName += "a.jpg";
  ASSERT_EQ(longName.size(), 255u);
  const std::string oddName = "a b 'single' \"double\" \xF0\x9F\x98\x80\nsecond line.jpg";
  for (const std::string& name : {longName, oddName}) {
    EXPECT_TRUE(writeFileAtomically(dir.file(name), "x", 1).ok());
  }
  EXPECT_EQ(dir.names(), (Names{oddName, longName}));  // sorted
}

TEST(AtomicFile, ReportsTheStepThatFailed) {
  testsupport::TempFolder dir;
  testsupport::writeText(dir.file("plain"), "");
  std::filesystem::create_directories(dir.file("folder/inside"));
  const WriteResult notAFolder = writeFileAtomically(dir.file("plain/x"), "x", 1);
  EXPECT_EQ(notAFolder.failedStep, WriteStep::kCreate);
  EXPECT_EQ(notAFolder.errnoValue, ENOTDIR);
  // The temporary file was written before the rename failed; it must go again.
  const WriteResult ontoFolder = writeFileAtomically(dir.file("folder"), "x", 1);
  EXPECT_EQ(ontoFolder.failedStep, WriteStep::kReplace);
  EXPECT_NE(ontoFolder.errnoValue, 0);
  EXPECT_EQ(writeFileAtomically("", "x", 1).failedStep, WriteStep::kCreate);
  EXPECT_EQ(dir.names(), (Names{"folder", "plain"}));
}

}  // namespace
}  // namespace platform
