// Output paths, folders, file dates and the meter's progress count.
#include "archive/inflate.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "output/output_writer.h"
#include "platform/host/host_control.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStubAndHost();
    Sfx.MessageBuffer = messageBuffer_;
    HostSetDryRun(true);  // folders are recorded, not made
    HostSetDriveType('C', DRIVE_FIXED);
  }

  // Runs `step` under a recovery point; false when it raised.
  template <typename Step>
  bool Guarded(Step step) {
    if (RecoveryPoint(Sfx.StartupRecovery)) return false;
    step();
    return true;
  }

  char messageBuffer_[kMessageBufferSize] = {};
};

struct PathCase {
  const char* target;
  const char* entry;
  const char* path;                      // EntryName afterwards
  std::vector<std::string> foldersMade;  // in order
};

TEST_F(OutputTest, EntryPathsAndTheirFolders) {
  const PathCase cases[] = {
      {"C:\\out", "a/b/c.txt", "C:\\out\\a\\b\\c.txt", {"C:\\out", "C:\\out\\a", "C:\\out\\a\\b"}},
      {"C:\\out\\", "x.txt", "C:\\out\\x.txt", {"C:\\out"}},
      {"C:\\out", "/x.txt", "C:\\out\\x.txt", {"C:\\out"}},
      {"C:\\out", "//x.txt", "C:\\out\\\\x.txt", {"C:\\out", "C:\\out\\"}},
      {"", "a/b.txt", "a\\b.txt", {"a"}},
      {"\\\\server\\share\\out", "d/f", "\\\\server\\share\\out\\d\\f", {"\\\\server\\share\\out", "\\\\server\\share\\out\\d"}},
      {"C:\\out", "docs/", "C:\\out\\docs/", {}},  // folder entries are not joined here
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " + " + c.entry);
    ResetStubAndHost();
    SetUp();
    strcpy(Sfx.TargetFolder, c.target);
    strcpy(Sfx.EntryName, c.entry);
    std::string name = c.entry;
    if (name.back() != '/') {
      ASSERT_TRUE(Guarded([] {
        BuildEntryPath();
        CreateEntryFolders();
      }));
      EXPECT_STREQ(Sfx.EntryName, c.path);
      EXPECT_EQ(HostFoldersMade(), c.foldersMade);
    } else {
      ASSERT_TRUE(Guarded([] { CreateEntryFolders(); }));
      EXPECT_EQ(HostFoldersMade(), (std::vector<std::string>{"C:\\out", "C:\\out\\docs"}));
    }
  }
}

TEST_F(OutputTest, JoinedPathLimitIs259Characters) {
  strcpy(Sfx.TargetFolder, "C:\\out");  // 7 characters with the separator added
  std::string fits(252, 'n'), tooLong(253, 'n');
  strcpy(Sfx.EntryName, fits.c_str());
  EXPECT_TRUE(Guarded([] { BuildEntryPath(); }));
  EXPECT_EQ(strlen(Sfx.EntryName), 259u);
  strcpy(Sfx.EntryName, tooLong.c_str());
  EXPECT_FALSE(Guarded([] { BuildEntryPath(); }));
  EXPECT_EQ(HostMessageBoxes().back().text, "Can't create output file: " + tooLong);
}

TEST_F(OutputTest, MissingDriveIsNamedByItsLetter) {
  strcpy(Sfx.TargetFolder, "Q:\\out");
  strcpy(Sfx.EntryName, "a.txt");
  EXPECT_FALSE(Guarded([] {
    BuildEntryPath();
    CreateEntryFolders();
  }));
  EXPECT_EQ(HostMessageBoxes().back().text, "Drive Q is not a valid drive, unzip operation cancelled.");
  EXPECT_TRUE(HostFoldersMade().empty());
}

TEST_F(OutputTest, DoubleByteTrailBackslashDoesNotSplitAName) {
  HostSetCodePage(932);
  strcpy(Sfx.TargetFolder, "C:\\out");
  strcpy(Sfx.EntryName, "\x95\x5C/f.txt");  // a folder whose name ends in trail byte 0x5C
  ASSERT_TRUE(Guarded([] {
    BuildEntryPath();
    CreateEntryFolders();
  }));
  EXPECT_STREQ(Sfx.EntryName, "C:\\out\\\x95\x5C\\f.txt");
  EXPECT_EQ(HostFoldersMade(), (std::vector<std::string>{"C:\\out", "C:\\out\\\x95\x5C"}));
}

TEST_F(OutputTest, FoldersOfAnEarlierEntryAreNotLookedUpAgain) {
  strcpy(Sfx.TargetFolder, "C:\\out");
  const char* entries[] = {"a/b/1.txt", "a/b/2.txt", "a/c/3.txt"};
  for (const char* entry : entries) {
    strcpy(Sfx.EntryName, entry);
    ASSERT_TRUE(Guarded([] {
      BuildEntryPath();
      CreateEntryFolders();
    }));
  }
  EXPECT_EQ(HostFoldersMade(), (std::vector<std::string>{"C:\\out", "C:\\out\\a", "C:\\out\\a\\b", "C:\\out\\a\\c"}));
}

// DOS time and date fields, and the local time they are set as (TZ=UTC).
struct TimeCase {
  uint16_t time, date;
  const char* expected;  // YYYY-MM-DD hh:mm:ss, or null: the file keeps its times
};

TEST_F(OutputTest, FileDatesAreClampedFieldByField) {
  setenv("TZ", "UTC", 1);
  tzset();
  HostSetDryRun(false);
  const TimeCase cases[] = {
      {0xFFFF, (45 << 9) | (6 << 5) | 15, "2025-06-15 23:59:58"},  // every time field at its clamp
      {0, 0, "1980-01-01 00:00:00"},                                // day and month 0 become 1
      {(10 << 11) | (30 << 5) | 5, (20 << 9) | (13 << 5) | 31, "2000-12-31 10:30:10"},  // month 13: December
      {0, (20 << 9) | (2 << 5) | 30, nullptr},                      // 30 February cannot be converted
  };
  std::string folder = MakeTempFolder();
  for (const TimeCase& c : cases) {
    SCOPED_TRACE(c.expected ? c.expected : "30 February");
    std::string path = folder + "/dated";
    Sfx.OutputFile = _lcreat(path.c_str(), 0);
    Sfx.LocalHeader.ModTime = c.time;
    Sfx.LocalHeader.ModDate = c.date;
    struct stat before;
    stat(path.c_str(), &before);
    EXPECT_EQ(SetOutputFileTime(), 1);
    _lclose(Sfx.OutputFile);
    struct stat after;
    stat(path.c_str(), &after);
    if (!c.expected) {
      EXPECT_EQ(after.st_mtime, before.st_mtime);
      continue;
    }
    char shown[32];
    strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S", gmtime(&after.st_mtime));
    EXPECT_STREQ(shown, c.expected);
  }
}

TEST_F(OutputTest, MeterMovesEvery64KiBInHundredthsOfTheTotal) {
  HostSetDryRun(false);
  SfxConfigRecord config{};
  config.TotalSize = 1092653;  // divisor 10,926
  Sfx.Config = &config;
  Sfx.MeterShown = 1;
  Sfx.MainWindow = reinterpret_cast<HWND>(1);
  std::vector<BYTE> block(kIoBlockAlloc);
  Sfx.OutputBlock = block.data();
  Sfx.OutputFile = _lcreat("/dev/null", 0);
  for (unsigned i = 0; i < 131072 / kIoChunkSize; i++) {  // full blocks of 131,072 bytes in all
    Sfx.BlockFill = kIoChunkSize;
    ASSERT_TRUE(Guarded([] { FlushBlock(); }));
  }
  EXPECT_EQ(Sfx.BytesWritten, 131072u);
  EXPECT_EQ(HostMeterPositions(), (std::vector<UINT>{5, 11}));  // at 65,536 and at 131,072 bytes
  _lclose(Sfx.OutputFile);

  config.TotalSize = 50;  // below 100: BytesWritten x 100 / total
  Sfx.BytesWritten = 0;
  Sfx.LastMeterUpdate = 0;
  Sfx.BytesWritten = 0x10000 - kIoChunkSize;
  Sfx.OutputFile = _lcreat("/dev/null", 0);
  Sfx.BlockFill = kIoChunkSize;
  ASSERT_TRUE(Guarded([] { FlushBlock(); }));
  EXPECT_EQ(HostMeterPositions().back(), (0x10000u * 100 / 50) & 0xFFFF);
  _lclose(Sfx.OutputFile);
}

TEST_F(OutputTest, ConfirmedAbortEndsTheRunSilently) {
  HostSetDryRun(false);
  std::vector<BYTE> block(kIoBlockAlloc);
  Sfx.OutputBlock = block.data();
  Sfx.OutputFile = _lcreat("/dev/null", 0);
  HostQueuePumpAnswers({false, true});
  Sfx.BlockFill = kIoChunkSize;
  EXPECT_TRUE(Guarded([] { FlushBlock(); }));  // the first pump: no abort
  Sfx.BlockFill = kIoChunkSize;
  EXPECT_FALSE(Guarded([] { FlushBlock(); }));  // the second: the user confirmed
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(Sfx.ExitCode, kExitCancelled);
  _lclose(Sfx.OutputFile);
}

}  // namespace
