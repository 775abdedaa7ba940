// Whole-or-nothing files: modes, durability, pending files, names of any bytes, failed steps.
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

// The file's permission bits.
mode_t modeOf(const std::string& file) {
  struct stat st {};
  return stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the process's umask for the guard's lifetime.
class ScopedUmask final {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(umask(mask)) {}
  ~ScopedUmask() { umask(previous_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t previous_;
};

TEST(AtomicFile, ANewFileFollowsTheUmaskAReplacedOneKeepsItsMode) {
  testsupport::TempFolder dir;
  for (const auto& [mask, mode] :
       {std::pair{mode_t{022}, mode_t{0644}}, std::pair{mode_t{027}, mode_t{0640}},
        std::pair{mode_t{002}, mode_t{0664}}}) {
    const ScopedUmask guard(mask);
    const std::string file = dir.file("new" + std::to_string(mask));
    ASSERT_TRUE(writeFileAtomically(file, "x", 1).ok());
    EXPECT_EQ(modeOf(file), mode) << "umask " << mask;
  }
  const ScopedUmask guard(022);
  const std::string file = dir.file("data.bin");
  testsupport::writeText(file, "old contents, longer than the new ones");
  for (const mode_t kept : {mode_t{0600}, mode_t{0640}, mode_t{0664}}) {
    chmod(file.c_str(), kept);
    const std::string bytes("new\0bytes", 9);
    ASSERT_TRUE(writeFileAtomically(file, bytes.data(), bytes.size()).ok());
    EXPECT_EQ(testsupport::readText(file), bytes);
    EXPECT_EQ(modeOf(file), kept) << "a replaced file keeps its permissions";
  }
  EXPECT_EQ(dir.names(), (Names{"data.bin", "new18", "new2", "new23"}));
}

// What the writer did, in order.
class TracedWrites final {
 public:
  TracedWrites() {
    setWriteTracer([this](WriteEvent event) { events.push_back(event); });
  }
  ~TracedWrites() { setWriteTracer({}); }
  TracedWrites(const TracedWrites&) = delete;
  TracedWrites& operator=(const TracedWrites&) = delete;
  std::vector<WriteEvent> events;
};

TEST(AtomicFile, SyncsTheDataBeforeTheRenameAndTheFolderAfterIt) {
  testsupport::TempFolder dir;
  {
    TracedWrites trace;
    ASSERT_TRUE(writeFileAtomically(dir.file("a"), "x", 1).ok());
    EXPECT_EQ(trace.events,
              (std::vector<WriteEvent>{WriteEvent::kCreateTemporary, WriteEvent::kSyncData,
                                       WriteEvent::kRename, WriteEvent::kSyncFolder}));
  }
  // Left to the caller: renamed whole, synced nowhere.
  TracedWrites trace;
  ASSERT_TRUE(writeFileAtomically(dir.file("b"), "x", 1, {Durability::kNone, nullptr}).ok());
  EXPECT_EQ(trace.events,
            (std::vector<WriteEvent>{WriteEvent::kCreateTemporary, WriteEvent::kRename}));
}

TEST(AtomicFile, PendingFilesAreRemovedAndNoMoreAreMade) {
  testsupport::TempFolder dir;
  PendingFiles pending;
  ASSERT_TRUE(writeFileAtomically(dir.file("made"), "x", 1, {Durability::kNone, &pending}).ok());
  // A write that is in progress when the program is interrupted: its temporary file goes.
  {
    TracedWrites trace;
    setWriteTracer([&pending, &dir](WriteEvent event) {
      if (event != WriteEvent::kCreateTemporary) return;
      EXPECT_EQ(dir.names().size(), 2u) << "the temporary file is there";
      pending.removeAll();
    });
    const WriteResult interrupted =
        writeFileAtomically(dir.file("cut"), "x", 1, {Durability::kNone, &pending});
    EXPECT_FALSE(interrupted.ok());
  }
  const WriteResult later =
      writeFileAtomically(dir.file("later"), "x", 1, {Durability::kNone, &pending});
  EXPECT_EQ(later.failedStep, WriteStep::kCreate);
  EXPECT_EQ(later.errnoValue, ECANCELED);
  EXPECT_EQ(dir.names(), Names{"made"});
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
