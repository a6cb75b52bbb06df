// The start-up sequence on synthetic self-extractors: which box (text, title,
// icon, buttons, owner) each damaged or special file shows, whether the main
// dialog runs, and the exit code.
#include "base/sfx_state.h"
#include "container/sfx_config.h"
#include "platform/host/host_control.h"
#include "startup/start_sequence.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kHeaderCorrupt[] =
    "Dravik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";
const char kZipDamaged[] =
    "Zip file is damaged, truncated, or has been changed since it was created.   If you downloaded "
    "this file, try downloading again.";
const char kIncomplete[] = "This is an incomplete self-extractor;\nplease re-create the file and try again.";
const char kNeedsWin32[] = "This 32-bit self-extracting Zip file requires Windows 95, 98, NT, or 2000.";
const char kTitle[] = "Dravik Self-Extractor";

class Startup : public ::testing::Test {
 protected:
  void SetUp() override { ResetStubAndHost(); }

  // Writes the file, runs the program on it with `tail` and returns its exit code.
  UINT Run(const std::vector<uint8_t>& bytes, const std::string& tail = "") {
    std::string folder = MakeTempFolder();
    std::string path = folder + "/setup.exe";
    WriteFile(path, bytes);
    HostSetModulePath(path);
    tail_ = tail;
    return StartSelfExtractor(nullptr, tail_.data());
  }

  UINT Run(const SyntheticSfx& options, const std::string& tail = "") {
    return Run(MakeSyntheticSfx(options).bytes, tail);
  }

  // The one box shown, checked for its text, buttons and icon, title and owner.
  void ExpectOnlyBox(const std::string& text, UINT type, const std::string& title = kTitle) {
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    const HostMessageBox& box = HostMessageBoxes()[0];
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.type, type) << HostDescribeBox(box);
    EXPECT_EQ(box.title, title);
    EXPECT_FALSE(box.owned);  // no dialog exists yet
  }

  std::string tail_;
};

TEST_F(Startup, IntactFileRunsTheDialog) {
  EXPECT_EQ(Run(SyntheticSfx{}), kExitSuccess);
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(HostMainDialogRuns(), 1);
  EXPECT_STREQ(Sfx.TargetFolder, "C:\\out");
}

TEST_F(Startup, ChecksCanBeSwitchedOff) {
  SyntheticSfx options;
  options.withStubCrc = false;
  options.withEndRecordCheck = false;
  SyntheticLayout layout = MakeSyntheticSfx(options);
  layout.bytes[kSyntheticCodeOffset] ^= 1;
  layout.bytes.resize(layout.endRecordOffset + 2);  // end record cut
  EXPECT_EQ(Run(layout.bytes), kExitSuccess);
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(HostMainDialogRuns(), 1);
}

// Bytes changed in the stub part, and whether the stub CRC must notice.
struct AlterationCase {
  const char* what;
  uint32_t flags;
  size_t offset;
  const char* expectedText;  // null: the program runs
  bool pe32Plus = false;
};

TEST_F(Startup, StubCrcCoversWhatItShould) {
  SyntheticLayout plain = MakeSyntheticSfx(SyntheticSfx{});
  const AlterationCase cases[] = {
      {"code byte", SfxFlag::CrcAfterHeaders, kSyntheticCodeOffset, kHeaderCorrupt},
      {"config block byte", SfxFlag::CrcAfterHeaders, plain.configBlockOffset + 1, kHeaderCorrupt},
      {"record field", SfxFlag::CrcAfterHeaders, kSyntheticRecordOffset + SfxConfigOffset::TotalSize,
       kHeaderCorrupt},
      {"DOS header byte, CRC after headers", SfxFlag::CrcAfterHeaders, 10, nullptr},
      {"DOS header byte, CRC from start", 0, 10, kHeaderCorrupt},
      {"image header byte, CRC from start", 0, kSyntheticLfanew + 8, kHeaderCorrupt},
      {"archive byte (not covered)", 0, plain.archiveOffset + 10, nullptr},
      // The image header is 248 bytes in PE32 and 264 in PE32+.
      {"first byte after a PE32 header", SfxFlag::CrcAfterHeaders, kSyntheticLfanew + 248, kHeaderCorrupt},
      {"the same byte inside a PE32+ header", SfxFlag::CrcAfterHeaders, kSyntheticLfanew + 248, nullptr, true},
      {"last byte of a PE32+ header", SfxFlag::CrcAfterHeaders, kSyntheticLfanew + 263, nullptr, true},
      {"first byte after a PE32+ header", SfxFlag::CrcAfterHeaders, kSyntheticLfanew + 264, kHeaderCorrupt, true},
      {"PE32+ image header byte, CRC from start", 0, kSyntheticLfanew + 250, kHeaderCorrupt, true},
  };
  for (const AlterationCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    SyntheticSfx options;
    options.flags = c.flags;
    options.pe32Plus = c.pe32Plus;
    std::vector<uint8_t> bytes = MakeSyntheticSfx(options).bytes;
    bytes[c.offset] ^= 0x20;
    UINT exitCode = Run(bytes);
    if (c.expectedText) {
      ExpectOnlyBox(c.expectedText, MB_OK | MB_ICONERROR);
      EXPECT_EQ(exitCode, kExitFailure);
      EXPECT_EQ(HostMainDialogRuns(), 0);
    } else {
      EXPECT_TRUE(HostMessageBoxes().empty());
      EXPECT_EQ(exitCode, kExitSuccess);
    }
  }
}

TEST_F(Startup, EarlierMarkerCopyMakesTheCrcFail) {
  SyntheticLayout layout = MakeSyntheticSfx(SyntheticSfx{});
  // A second copy of the marker ahead of the record: the CRC field is then
  // taken from the wrong place.
  std::copy(layout.bytes.begin() + kSyntheticRecordOffset, layout.bytes.begin() + kSyntheticRecordOffset + 8,
            layout.bytes.begin() + kSyntheticCodeOffset);
  SyntheticSfx options;
  options.withStubCrc = false;  // recompute nothing: the stored CRC was made without the copy
  EXPECT_EQ(Run(layout.bytes), kExitFailure);
  ExpectOnlyBox(kHeaderCorrupt, MB_OK | MB_ICONERROR);
}

// Offsets in the record are held against the file's size before they are
// used: no allocation of the size they claim, only the box. 0xFFFFFFFF as
// the end record's offset once passed as a seek that "succeeded" with the
// seek's failure value.
TEST_F(Startup, OffsetsBeyondTheFileAreRefusedBeforeUse) {
  struct Case {
    unsigned field;
    uint32_t value;
    const char* expectedText;
  } cases[] = {
      {SfxConfigOffset::ArchiveOffset, 0x7FFFFFFF, kHeaderCorrupt},
      {SfxConfigOffset::ArchiveOffset, 0x80000000, kHeaderCorrupt},
      {SfxConfigOffset::ArchiveOffset, 0xFFFFFFFF, kHeaderCorrupt},
      {SfxConfigOffset::EndRecordOffset, 0x7FFFFFFF, kZipDamaged},
      {SfxConfigOffset::EndRecordOffset, 0x80000000, kZipDamaged},
      {SfxConfigOffset::EndRecordOffset, 0xFFFFFFFF, kZipDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "field " << c.field << " = " << c.value);
    ResetStubAndHost();
    SyntheticSfx options;
    // The stub CRC's copy is what ArchiveOffset sizes; with the CRC on, it
    // would report a changed EndRecordOffset before the end record is read.
    options.withStubCrc = c.field == SfxConfigOffset::ArchiveOffset;
    SyntheticLayout layout = MakeSyntheticSfx(options);
    PutU32(layout.bytes, kSyntheticRecordOffset + c.field, c.value);
    EXPECT_EQ(Run(layout.bytes), kExitFailure);
    ExpectOnlyBox(c.expectedText, MB_OK | MB_ICONERROR);
    EXPECT_LT(HostLargestAllocation(), 1024u * 1024);  // the stub's own fixed buffers, nothing of the claimed size
  }
}

TEST_F(Startup, FileCutInsideTheArchiveIsDamaged) {
  SyntheticLayout layout = MakeSyntheticSfx(SyntheticSfx{});
  layout.bytes.resize(layout.endRecordOffset + 3);
  EXPECT_EQ(Run(layout.bytes), kExitFailure);
  ExpectOnlyBox(kZipDamaged, MB_OK | MB_ICONERROR);
}

TEST_F(Startup, WrongEndSignatureIsDamagedAndDigitalSignatureIsAccepted) {
  SyntheticLayout layout = MakeSyntheticSfx(SyntheticSfx{});
  layout.bytes[layout.endRecordOffset + 3] = 5;  // PK\5\5: digital signature record
  EXPECT_EQ(Run(layout.bytes), kExitSuccess);
  ResetStubAndHost();
  layout.bytes[layout.endRecordOffset + 3] = 4;
  EXPECT_EQ(Run(layout.bytes), kExitFailure);
  ExpectOnlyBox(kZipDamaged, MB_OK | MB_ICONERROR);
}

TEST_F(Startup, ChangedEntryPointIsDamaged) {
  SyntheticLayout layout = MakeSyntheticSfx(SyntheticSfx{});  // CRC after headers
  PutU32(layout.bytes, kSyntheticLfanew + kEntryPointOffsetInHeader, kSyntheticEntryPoint + 0x10);
  EXPECT_EQ(Run(layout.bytes), kExitFailure);
  ExpectOnlyBox(kZipDamaged, MB_OK | MB_ICONERROR);
}

TEST_F(Startup, UnfinishedFileIsIncomplete) {
  SyntheticSfx options;
  options.finalised = false;
  EXPECT_EQ(Run(options), kExitFailure);
  ExpectOnlyBox(kIncomplete, MB_OK | MB_ICONERROR);
  EXPECT_EQ(HostMainDialogRuns(), 0);
}

TEST_F(Startup, InfoOptionShowsTheInformationTextOnly) {
  const std::pair<const char*, bool> cases[] = {
      {" -info", true}, {" /auto c:\\x-infoy", true}, {" -INFO", false}, {"", false}};
  for (const auto& [tail, shown] : cases) {
    SCOPED_TRACE(tail);
    ResetStubAndHost();
    HostSetVersion(0x0003);  // "-info" comes before the version test
    UINT exitCode = Run(SyntheticSfx{}, tail);
    if (shown) {
      ExpectOnlyBox("builder options", MB_OK);
      EXPECT_EQ(exitCode, kExitSuccess);
    } else {
      ExpectOnlyBox(kNeedsWin32, MB_OK);
    }
  }
}

TEST_F(Startup, VersionTestLooksAtTheMajorVersionOnly) {
  const std::pair<DWORD, bool> cases[] = {
      {0x00000003, false}, {0x80000003, false}, {0x00000004, true}, {0x80000004, true}, {0x1DB10106, true}};
  for (const auto& [version, runs] : cases) {
    SCOPED_TRACE(version);
    ResetStubAndHost();
    HostSetVersion(version);
    UINT exitCode = Run(SyntheticSfx{});
    EXPECT_EQ(HostMainDialogRuns(), runs ? 1 : 0);
    if (!runs) {
      ExpectOnlyBox(kNeedsWin32, MB_OK);
      EXPECT_EQ(exitCode, kExitFailure);
    }
  }
}

struct PromptCase {
  uint32_t flags;
  std::string caption;
  UINT expectedType;
  std::string expectedTitle;
  int answer;
  bool dialogRuns;
};

TEST_F(Startup, StartupQuestionButtonsTitleAndAnswers) {
  const uint32_t asks = SfxFlag::PromptAsks, okCancel = SfxFlag::PromptOkCancel, caption = SfxFlag::UseCaption;
  const PromptCase cases[] = {
      {0, "", MB_OK, kTitle, IDOK, true},
      {okCancel, "", MB_OK, kTitle, IDOK, true},  // without PromptAsks: OK only
      {asks, "", MB_YESNO, kTitle, IDYES, true},
      {asks, "", MB_YESNO, kTitle, IDNO, false},
      {asks | okCancel, "", MB_OKCANCEL, kTitle, IDOK, true},
      {asks | okCancel, "", MB_OKCANCEL, kTitle, IDCANCEL, false},
      {caption, "Setup of Foo", MB_OK, "Setup of Foo", IDOK, true},
      {caption, "", MB_OK, kTitle, IDOK, true},             // empty caption: standard title
      {0, "Ignored caption", MB_OK, kTitle, IDOK, true},    // caption without UseCaption
  };
  for (const PromptCase& c : cases) {
    SCOPED_TRACE(c.expectedTitle + " flags " + std::to_string(c.flags));
    ResetStubAndHost();
    HostQueueAnswers({c.answer});
    SyntheticSfx options;
    options.flags |= c.flags;
    options.texts[2] = "Install Foo?";
    options.texts[3] = c.caption;
    UINT exitCode = Run(options);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    const HostMessageBox& box = HostMessageBoxes()[0];
    EXPECT_EQ(box.text, "Install Foo?");
    EXPECT_EQ(box.type, c.expectedType | MB_ICONQUESTION | MB_TASKMODAL) << HostDescribeBox(box);
    EXPECT_EQ(box.title, c.expectedTitle);
    EXPECT_FALSE(box.owned);
    EXPECT_EQ(HostMainDialogRuns(), c.dialogRuns ? 1 : 0);
    EXPECT_EQ(exitCode, c.dialogRuns ? kExitSuccess : kExitCancelled);
  }
}

// An unattended run, by the builder's flag or the command line, takes the
// license as accepted (the page is not asked for) and makes its dialog
// without WS_VISIBLE; any other run asks for the page and shows the dialog.
TEST_F(Startup, UnattendedRunsSkipTheLicenseAndHideTheDialog) {
  struct Case {
    uint32_t flags;
    const char* tail;
    bool unattended;
  };
  const Case cases[] = {
      {0, "", false},
      {0, " /auto", true},
      {0, " -AUTO c:\\out", true},
      {SfxFlag::AutoUnzip, "", true},
      {SfxFlag::AutoUnzip, " /noauto", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("tail '") + c.tail + "' flags " + std::to_string(c.flags));
    ResetStubAndHost();
    SyntheticSfx options;
    options.flags |= c.flags;
    EXPECT_EQ(Run(options, c.tail), kExitSuccess);
    EXPECT_EQ(HostLicensePages(), c.unattended ? 0 : 1);
    ASSERT_EQ(HostMainDialogRuns(), 1);
    EXPECT_EQ((HostMainDialogStyle() & WS_VISIBLE) != 0, !c.unattended);
  }
}

TEST_F(Startup, EmptyQuestionAsksNothingWhateverTheBits) {
  SyntheticSfx options;
  options.flags |= SfxFlag::PromptAsks | SfxFlag::PromptOkCancel;
  EXPECT_EQ(Run(options), kExitSuccess);
  EXPECT_TRUE(HostMessageBoxes().empty());
}

TEST_F(Startup, ConfigBlockTextsAndFlagsReachTheState) {
  SyntheticSfx options;
  options.flags |= SfxFlag::UseCaption | SfxFlag::OverwriteDefault | SfxFlag::HasPassword | SfxFlag::AutoUnzip;
  options.texts[0] = ".";
  options.texts[3] = "My caption";
  HostSetMainDialogHandler([] {
    EXPECT_STREQ(Sfx.TargetFolder, ".");
    EXPECT_STREQ(Sfx.CustomCaption, "My caption");
    EXPECT_STREQ(Sfx.InfoText, "builder options");
    EXPECT_EQ(Sfx.OverwriteWithoutPrompt, 1u);
    EXPECT_EQ(Sfx.EntryEncrypted, 1u);
    EXPECT_EQ(Sfx.Unattended, 1u);
  });
  EXPECT_EQ(Run(options), kExitSuccess);
  EXPECT_EQ(HostMainDialogRuns(), 1);
}

TEST_F(Startup, CommandLineOverridesTheBuilderDefaults) {
  SyntheticSfx options;
  options.flags |= SfxFlag::AutoUnzip;
  EXPECT_EQ(Run(options, " /NOAUTO"), kExitSuccess);
  EXPECT_EQ(Sfx.Unattended, 0u);
  ResetStubAndHost();
  EXPECT_EQ(Run(SyntheticSfx{}, " /auto d:\\elsewhere"), kExitSuccess);
  EXPECT_EQ(Sfx.Unattended, 1u);
  EXPECT_STREQ(Sfx.TargetFolder, "d:\\elsewhere");
}

TEST_F(Startup, NoConfigBlockLeavesTextsEmpty) {
  SyntheticSfx options;
  options.withConfigBlock = false;
  options.texts[2] = "Never asked";
  EXPECT_EQ(Run(options), kExitSuccess);
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_STREQ(Sfx.TargetFolder, "");
}

TEST_F(Startup, UnreadableOwnFileIsHeaderCorrupt) {
  HostSetModulePath("/nonexistent/setup.exe");
  std::string tail;
  EXPECT_EQ(StartSelfExtractor(nullptr, tail.data()), kExitFailure);
  ExpectOnlyBox(kHeaderCorrupt, MB_OK | MB_ICONERROR);
}

TEST_F(Startup, SpannedSetAsksForDiskOneAndSkipsTheEndRecord) {
  SyntheticSfx options;
  options.flags |= SfxFlag::SpannedArchive;
  SyntheticLayout layout = MakeSyntheticSfx(options);
  layout.bytes.resize(layout.archiveOffset);  // the archive lives on the volumes
  std::string folder = MakeTempFolder();
  WriteFile(folder + "/setup.exe", layout.bytes);
  WriteFile(folder + "/setup.EXE", layout.bytes);
  HostSetModulePath(folder + "/setup.exe");
  HostSetVolumeLabel('/', "PKBACK# 001");
  std::string tail;
  EXPECT_EQ(StartSelfExtractor(nullptr, tail.data()), kExitSuccess);
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(HostMainDialogRuns(), 1);
}

}  // namespace
