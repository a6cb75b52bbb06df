// Volume labels and the disk prompts of a spanned set, with the simulated
// removable drive of the host platform.
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_volumes.h"
#include "container/fixed_errors.h"
#include "platform/host/host_control.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ReadVolumeNumber, ReadsTheDiskNumberFromTheLabel) {
  const std::pair<const char*, WORD> cases[] = {
      {"PKBACK# 002", 2},
      {"PKBACK# 001", 1},
      {"PKBACK#.12", 12},
      {"PKBACK# 0000000010", 10},
      {"PKBACK#002", kNoVolumeNumber},   // no separator
      {"pkback# 002", kNoVolumeNumber},  // case matters
      {"", kNoVolumeNumber},
      {"DATA", kNoVolumeNumber},
      {"PKBACK# ", 0},                   // a separator and no digit reads as 0
      {"PKBACK# x7", 7},
  };
  for (const auto& [label, number] : cases) {
    ResetStubAndHost();
    HostSetVolumeLabel('A', label);
    EXPECT_EQ(ReadVolumeNumber("A:"), number) << label;
  }
  ResetStubAndHost();
  EXPECT_EQ(ReadVolumeNumber("A:"), kNoVolumeNumber);  // no disk: the query fails
}

class RequestDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStubAndHost();
    folder_ = MakeTempFolder();
    modulePath_ = folder_ + "/setup.exe";
    strcpy(Sfx.ModulePath, modulePath_.c_str());
    Sfx.MessageBuffer = messageBuffer_;
  }

  // Runs RequestDisk under a recovery point; false when it ended the operation.
  bool Request(WORD wanted, bool exeVolumes) {
    if (RecoveryPoint(Sfx.StartupRecovery)) return false;
    RequestDisk(wanted, exeVolumes);
    return true;
  }

  std::string folder_;
  std::string modulePath_;
  char messageBuffer_[kMessageBufferSize] = {};
};

// The module path here starts with '/', so the "drive" is "/:".
TEST_F(RequestDiskTest, OpensTheVolumeFileOfTheWantedDisk) {
  WriteFile(folder_ + "/setup.ZIP", {'z'});
  HostSetVolumeLabel('/', "PKBACK# 001");
  ASSERT_TRUE(Request(1, false));
  char byte = 0;
  EXPECT_EQ(_lread(Sfx.ArchiveFile, &byte, 1), 1u);
  EXPECT_EQ(byte, 'z');
  EXPECT_EQ(Sfx.CurrentDisk, 1);
  EXPECT_TRUE(HostMessageBoxes().empty());
}

TEST_F(RequestDiskTest, WrongDiskAsksAgainUntilCancel) {
  HostSetVolumeLabel('/', "PKBACK# 003");
  HostQueueAnswers({IDOK, IDCANCEL});
  EXPECT_FALSE(Request(2, true));
  ASSERT_EQ(HostMessageBoxes().size(), 2u);
  const HostMessageBox& box = HostMessageBoxes()[0];
  EXPECT_EQ(box.text, "Please insert disk 2 in drive /:.");
  EXPECT_EQ(box.title, "Dravik Self-Extractor");
  EXPECT_EQ(box.type, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(Sfx.CurrentDisk, 3);
  EXPECT_EQ(Sfx.ExitCode, kExitCancelled);
}

TEST_F(RequestDiskTest, LastDiskPromptHasNoNumber) {
  HostSetVolumeLabel('/', "PKBACK# 001");
  HostQueueAnswers({IDCANCEL});
  EXPECT_FALSE(Request(kLastDisk, false));
  EXPECT_EQ(HostMessageBoxes().at(0).text, "Please insert last disk of set in drive /:.");
}

TEST_F(RequestDiskTest, MissingLabelOffersAbortRetryIgnore) {
  WriteFile(folder_ + "/setup.EXE", {'e'});
  HostQueueAnswers({IDRETRY, IDIGNORE});
  ASSERT_TRUE(Request(2, true));  // Ignore takes the disk as the wanted one
  ASSERT_EQ(HostMessageBoxes().size(), 2u);
  EXPECT_EQ(HostMessageBoxes()[0].text,
            "The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number 2.");
  EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_ABORTRETRYIGNORE | MB_ICONQUESTION));
  EXPECT_EQ(Sfx.CurrentDisk, 2);

  ResetStubAndHost();
  strcpy(Sfx.ModulePath, modulePath_.c_str());
  Sfx.MessageBuffer = messageBuffer_;
  HostQueueAnswers({IDABORT});
  EXPECT_FALSE(Request(2, true));
  EXPECT_EQ(HostMessageBoxes().size(), 1u);
}

TEST_F(RequestDiskTest, MissingVolumeFileIsHeaderCorrupt) {
  HostSetVolumeLabel('/', "PKBACK# 001");
  EXPECT_FALSE(Request(1, false));
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].text,
            "Dravik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error");
  EXPECT_EQ(Sfx.ExitCode, kExitFailure);
}

TEST(ReadErrorText, NamesTheModuleAndTheNumber) {
  ResetStubAndHost();
  char buffer[500];
  Sfx.MessageBuffer = buffer;
  strcpy(Sfx.ModulePath, "A:\\SETUP.EXE");
  if (!RecoveryPoint(Sfx.StartupRecovery)) ReadError(2);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].text,
            "Error reading A:\\SETUP.EXE.  Possible cause: bad disk or file transfer error. <2>");
  EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

}  // namespace
