// Setup mode on the host platform: environment variables in the destination
// folder, the run command's line and where its program is found, the
// program's start and exit code, the temporary folder made and removed
// (links inside it and beside it included), and the start-up sequence that
// ties them together. Programs are simulated (host_control.h): the handler
// sees what CreateProcessA was given and answers with an exit code.
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/sfx_config.h"
#include "output/folder_variables.h"
#include "output/temp_folder.h"
#include "platform/host/host_control.h"
#include "startup/setup_program.h"
#include "startup/start_sequence.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A path the stub formed (with '\\' separators) as the POSIX path it names.
std::string PosixOf(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

class SetupMode : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStubAndHost();
    Sfx.MessageBuffer = messageBuffer_;
    base_ = MakeTempFolder();
    setenv("TMP", base_.c_str(), 1);
  }
  void TearDown() override { unsetenv("TMP"); }

  // Runs `step` under a recovery point; false when it raised.
  template <typename Step>
  bool Guarded(Step step) {
    if (RecoveryPoint(Sfx.StartupRecovery)) return false;
    step();
    return true;
  }

  // The one box shown so far: its text, with the error icon.
  std::string OnlyErrorBox() {
    if (HostMessageBoxes().size() != 1) return "(" + std::to_string(HostMessageBoxes().size()) + " boxes)";
    EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    return HostMessageBoxes()[0].text;
  }

  // The folders directly inside the temporary base.
  std::vector<std::string> FoldersInBase() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(base_)) names.push_back(entry.path().filename().string());
    return names;
  }

  char messageBuffer_[kMessageBufferSize] = {};
  std::string base_;  // TMP for the test
};

// ---- environment variables in the destination folder ----------------------------

struct VariableCase {
  const char* folder;
  const char* expanded;  // null: refused with `refusal`
  const char* refusal;
};

TEST_F(SetupMode, FolderVariablesAreExpandedOrRefused) {
  setenv("DRAVIK_PF", "C:\\Program Files", 1);
  setenv("DRAVIK_LONG", std::string(200, 'L').c_str(), 1);
  unsetenv("DRAVIK_NOPE");
  const std::string undefined =
      "The environment variable DRAVIK_NOPE named in the destination folder is not set - unzip operation cancelled.";
  const VariableCase cases[] = {
      {"%DRAVIK_PF%\\Foo", "C:\\Program Files\\Foo", nullptr},
      {"C:\\a%DRAVIK_PF%b%DRAVIK_PF%", "C:\\aC:\\Program FilesbC:\\Program Files", nullptr},
      {"C:\\100%% sure", "C:\\100% sure", nullptr},
      {"C:\\%%DRAVIK_PF%%", "C:\\%DRAVIK_PF%", nullptr},  // "%%" is a percent sign, not a variable's start
      {"C:\\50% off", "C:\\50% off", nullptr},            // no closing '%': as it is
      {"C:\\plain", "C:\\plain", nullptr},
      {"%DRAVIK_NOPE%\\x", nullptr, undefined.c_str()},
      {"C:\\ok\\%DRAVIK_PF%\\%DRAVIK_NOPE%", nullptr, undefined.c_str()},
      {"%DRAVIK_LONG%\\%DRAVIK_LONG%", nullptr,
       "The destination folder %DRAVIK_LONG%\\%DRAVIK_LONG% is longer than Windows allows - unzip operation "
       "cancelled."},
  };
  for (const VariableCase& c : cases) {
    SCOPED_TRACE(c.folder);
    ResetStubAndHost();
    Sfx.MessageBuffer = messageBuffer_;
    lstrcpyA(Sfx.TargetFolder, c.folder);
    bool expanded = Guarded([] { ExpandFolderVariables(Sfx.TargetFolder); });
    if (c.expanded) {
      EXPECT_TRUE(expanded);
      EXPECT_STREQ(Sfx.TargetFolder, c.expanded);
      EXPECT_TRUE(HostMessageBoxes().empty());
    } else {
      EXPECT_FALSE(expanded);
      EXPECT_EQ(OnlyErrorBox(), c.refusal);
      EXPECT_EQ(Sfx.ExitCode, kExitFailure);
    }
  }
  unsetenv("DRAVIK_PF");
  unsetenv("DRAVIK_LONG");
}

// ---- the run command: its line, its program, where that is found ----------------

struct LineCase {
  const char* command;
  const char* folder;
  const char* line;     // null: does not fit
  const char* program;  // what the error box would name
};

TEST_F(SetupMode, RunCommandLineAndItsProgram) {
  const std::string longFolder = "C:\\" + std::string(257, 'd');
  const std::string fourTimes = "x {folder}{folder}{folder}{folder}";
  const LineCase cases[] = {
      {"setup.exe /q", "C:\\Out", "setup.exe /q", "setup.exe"},
      {"setup.exe \"{folder}\\log.txt\"", "C:\\My Out", "setup.exe \"C:\\My Out\\log.txt\"", "setup.exe"},
      {"\"{folder}\\my setup.exe\" /s", "C:\\Out", "\"C:\\Out\\my setup.exe\" /s", "C:\\Out\\my setup.exe"},
      {"msiexec /i setup.msi /qn", "C:\\Out", "msiexec /i setup.msi /qn", "msiexec"},
      {"  cmd /c run.cmd", "C:\\Out", "  cmd /c run.cmd", "cmd"},
      {"a {FOLDER} {folder", "C:\\Out", "a {FOLDER} {folder", "a"},  // only "{folder}" exactly
      {fourTimes.c_str(), longFolder.c_str(), nullptr, "x"},           // 4 x 260 bytes do not fit
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.command);
    lstrcpyA(Sfx.RunCommand, c.command);
    lstrcpyA(Sfx.TargetFolder, c.folder);
    CHAR line[kRunCommandLineLimit + 1];
    bool formed = FormRunCommandLine(line, sizeof line);
    EXPECT_EQ(formed, c.line != nullptr);
    if (formed) EXPECT_STREQ(line, c.line);
    CHAR program[kPathBufferSize];
    ProgramNamed(formed ? line : c.command, program);
    EXPECT_STREQ(program, c.program);
  }
}

struct LookupCase {
  const char* program;
  const char* found;  // relative to the extraction folder; null: left to Windows' search
};

TEST_F(SetupMode, ARelativeProgramIsLookedUpInTheExtractionFolder) {
  std::string folder = MakeTempFolder();
  fs::create_directories(folder + "/bin");
  fs::create_directories(folder + "/tool.exe");  // a folder is no program
  for (const char* file : {"setup.exe", "bin/inner.exe", "script.cmd", "README"}) WriteFile(folder + "/" + file, {'x'});
  lstrcpyA(Sfx.TargetFolder, folder.c_str());
  const LookupCase cases[] = {
      {"setup.exe", "setup.exe"},    {"setup", "setup.exe"},      {"bin\\inner.exe", "bin\\inner.exe"},
      {"bin\\inner", "bin\\inner.exe"}, {"script.cmd", "script.cmd"}, {"README", nullptr},  // looked up as README.exe
      {"msiexec", nullptr},          {"tool.exe", nullptr},       {"missing.exe", nullptr},
      {"C:\\setup.exe", nullptr},    {"\\setup.exe", nullptr},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.program);
    CHAR path[kPathBufferSize] = {};
    bool found = FindProgramInFolder(c.program, path);
    EXPECT_EQ(found, c.found != nullptr);
    if (c.found) EXPECT_EQ(std::string(path), folder + "\\" + c.found);
  }
}

// ---- starting the program and passing its exit code on ---------------------------

struct StartCase {
  const char* command;
  bool starts;
  DWORD exitCode;
  UINT expectedExit;
};

TEST_F(SetupMode, TheProgramsExitCodeIsPassedOnUnchanged) {
  const StartCase cases[] = {
      {"setup.exe", true, 0, 0},
      {"setup.exe", true, 7, 7},
      {"setup.exe", true, 3010, 3010},              // an installer's "restart needed"
      {"setup.exe", true, 0xC0000005, 0xC0000005},  // a crash's status, whole
      {"setup.exe", true, 1, 1},                    // the program's 1 is not our "cancelled"
      {"missing.exe /x", false, 0, kExitFailure},
  };
  std::string folder = MakeTempFolder();
  for (const StartCase& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + std::to_string(c.exitCode));
    ResetStubAndHost();
    Sfx.MessageBuffer = messageBuffer_;
    lstrcpyA(Sfx.RunCommand, c.command);
    lstrcpyA(Sfx.TargetFolder, folder.c_str());
    HostSetProgramHandler([&](const HostProgramStart&, DWORD* exitCode) {
      *exitCode = c.exitCode;
      return c.starts;
    });
    bool ran = Guarded([] { RunSetupProgram(); });
    EXPECT_EQ(ran, c.starts);
    EXPECT_EQ(Sfx.ExitCode, c.expectedExit);
    ASSERT_EQ(HostProgramStarts().size(), 1u);
    EXPECT_EQ(HostProgramStarts()[0].currentFolder, folder);
    EXPECT_EQ(HostProgramStarts()[0].commandLine, c.command);
    if (c.starts)
      EXPECT_TRUE(HostMessageBoxes().empty());
    else
      EXPECT_EQ(OnlyErrorBox(), "Could not start the program missing.exe.");
  }
}

TEST_F(SetupMode, AProgramInTheFolderIsStartedByItsPathWithTheLineAsWritten) {
  std::string folder = MakeTempFolder();
  WriteFile(folder + "/setup.exe", {'M', 'Z'});
  lstrcpyA(Sfx.TargetFolder, folder.c_str());
  lstrcpyA(Sfx.RunCommand, "setup /q \"{folder}\"");
  HostSetProgramHandler([](const HostProgramStart&, DWORD* exitCode) { return *exitCode = 0, true; });
  ASSERT_TRUE(Guarded([] { RunSetupProgram(); }));
  ASSERT_EQ(HostProgramStarts().size(), 1u);
  EXPECT_EQ(HostProgramStarts()[0].application, folder + "\\setup.exe");
  EXPECT_EQ(HostProgramStarts()[0].commandLine, "setup /q \"" + folder + "\"");
}

// ---- the temporary folder ----------------------------------------------------------

TEST_F(SetupMode, EachTemporaryFolderIsNewAndUnderTmp) {
  std::vector<std::string> made;
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(Guarded([] { MakeFreshTempFolder(); }));
    made.push_back(Sfx.TempFolder);
    EXPECT_STREQ(Sfx.TargetFolder, Sfx.TempFolder);
    EXPECT_EQ(made.back().rfind(base_ + "\\dravik-", 0), 0u) << made.back();
    Sfx.TempFolder[0] = '\0';  // forgotten, not removed: the next one must still be new
  }
  EXPECT_EQ(FoldersInBase().size(), 3u);
  EXPECT_NE(made[0], made[1]);
  EXPECT_NE(made[1], made[2]);
}

TEST_F(SetupMode, ATmpEndingInASeparatorGetsNoSecond) {
  setenv("TMP", (base_ + "\\").c_str(), 1);
  ASSERT_TRUE(Guarded([] { MakeFreshTempFolder(); }));
  EXPECT_EQ(std::string(Sfx.TempFolder).rfind(base_ + "\\dravik-", 0), 0u) << Sfx.TempFolder;
  EXPECT_EQ(FoldersInBase().size(), 1u);
}

TEST_F(SetupMode, NoTemporaryFolderIsAnErrorBox) {
  unsetenv("TMP");
  unsetenv("TEMP");
  EXPECT_FALSE(Guarded([] { MakeFreshTempFolder(); }));
  EXPECT_EQ(OnlyErrorBox(), "Could not create \"%TEMP%\" - unzip operation cancelled.");
  EXPECT_EQ(Sfx.ExitCode, kExitFailure);
  setenv("TMP", (base_ + "/no/such/folder").c_str(), 1);
  ResetStubAndHost();
  Sfx.MessageBuffer = messageBuffer_;
  EXPECT_FALSE(Guarded([] { MakeFreshTempFolder(); }));
  EXPECT_STREQ(Sfx.TempFolder, "");  // nothing to remove later
}

// A tree as an installer leaves it: nested folders, a read-only file, an
// empty folder; and beside the temporary folder, the user's own files.
void FillTree(const std::string& root) {
  fs::create_directories(root + "/a/b/c");
  fs::create_directories(root + "/empty");
  WriteFile(root + "/top.txt", {'t'});
  WriteFile(root + "/a/b/c/deep.txt", {'d'});
  WriteFile(root + "/readonly.txt", {'r'});
  fs::permissions(root + "/readonly.txt", fs::perms::owner_read);
}

TEST_F(SetupMode, RemovalTakesTheTreeAndNothingBesideIt) {
  ASSERT_TRUE(Guarded([] { MakeFreshTempFolder(); }));
  std::string made = FoldersInBase().at(0);
  FillTree(base_ + "/" + made);
  WriteFile(base_ + "/beside.txt", {'b'});
  fs::create_directories(base_ + "/neighbour");
  WriteFile(base_ + "/neighbour/kept.txt", {'k'});
  RemoveTempFolder();
  EXPECT_FALSE(fs::exists(base_ + "/" + made));
  EXPECT_TRUE(fs::exists(base_ + "/beside.txt"));
  EXPECT_TRUE(fs::exists(base_ + "/neighbour/kept.txt"));
  EXPECT_STREQ(Sfx.TempFolder, "");
  RemoveTempFolder();  // a second call has nothing to do
  EXPECT_TRUE(fs::exists(base_ + "/neighbour/kept.txt"));
}

// Links (reparse points on Windows) inside the folder, and the folder itself
// replaced by one: each link goes, nothing it leads to does.
struct LinkCase {
  const char* what;
  const char* linkInside;  // a link at this place inside the temporary folder to the outside folder
  bool folderItselfALink;
};

TEST_F(SetupMode, RemovalNeverFollowsALinkOutOfTheFolder) {
  const LinkCase cases[] = {
      {"a link to a folder, at the top", "outside-link", false},
      {"a link to a folder, deep down", "a/b/outside-link", false},
      {"a link to a file", "file-link", false},
      {"the folder itself replaced by a link", nullptr, true},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    Sfx.MessageBuffer = messageBuffer_;
    std::string outside = MakeTempFolder();
    WriteFile(outside + "/precious.txt", {'p'});
    fs::create_directories(outside + "/sub");
    WriteFile(outside + "/sub/precious2.txt", {'p'});
    ASSERT_TRUE(Guarded([] { MakeFreshTempFolder(); }));
    std::string made = Sfx.TempFolder;
    std::string posixMade = base_ + "/" + made.substr(made.rfind('\\') + 1);
    FillTree(posixMade);
    if (c.folderItselfALink) {
      fs::remove_all(posixMade);
      fs::create_directory_symlink(outside, posixMade);
    } else if (std::string(c.linkInside) == "file-link") {
      fs::create_symlink(outside + "/precious.txt", posixMade + "/" + c.linkInside);
    } else {
      fs::create_directory_symlink(outside, posixMade + "/" + c.linkInside);
    }
    RemoveTempFolder();
    EXPECT_FALSE(fs::exists(fs::symlink_status(posixMade)));
    EXPECT_TRUE(fs::exists(outside + "/precious.txt"));
    EXPECT_TRUE(fs::exists(outside + "/sub/precious2.txt"));
  }
}

// ---- the ConfigBlock's sixth text --------------------------------------------------------

// The run command as start-up reads it: a sixth text, or none in a block of
// five (every file built without --run); a block whose texts lack their NULs
// is read no further than its end.
TEST_F(SetupMode, TheRunCommandIsTheSixthTextWhenThereIsOne) {
  struct Case {
    const char* what;
    std::string runCommand;
    bool stripNuls;
    const char* read;
  } cases[] = {
      {"six texts", "setup.exe /q", false, "setup.exe /q"},
      {"five texts", "", false, ""},
      {"five texts without their NULs", "", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    SyntheticSfx options;
    options.runCommand = c.runCommand;
    options.withStubCrc = false;
    SyntheticLayout layout = MakeSyntheticSfx(options);
    if (c.stripNuls)
      for (uint32_t at = layout.configBlockOffset; at < layout.archiveOffset; at++)
        if (!layout.bytes[at]) layout.bytes[at] = 'n';
    std::string folder = MakeTempFolder();
    WriteFile(folder + "/setup.exe", layout.bytes);
    HostSetModulePath(folder + "/setup.exe");
    std::string read = "(dialog not run)";
    HostSetMainDialogHandler([&] { read = Sfx.RunCommand; });
    std::string tail;
    EXPECT_EQ(StartSelfExtractor(nullptr, tail.data()), kExitSuccess);
    EXPECT_EQ(read, c.read);
    EXPECT_TRUE(HostProgramStarts().empty());  // nothing is due without a successful run
  }
}

// ---- the start-up sequence of a setup -------------------------------------------------

// The dialog (or the dialogless run) as the Windows build does it for a
// setup: the temporary folder made for a temporary setup, the extraction,
// and the program due after success.
struct SequenceCase {
  const char* what;
  uint32_t flags;
  const char* prompt;
  const char* tail;
  bool programStarts;
  DWORD programExit;
  bool raiseInDialog;  // an error box ends the program while the dialog is up
  bool unattended;     // as the dialog saw it
  UINT exitCode;
};

TEST_F(SetupMode, StartUpRunsTheProgramAndAlwaysRemovesTheFolder) {
  const uint32_t temp = SfxFlag::CrcAfterHeaders | SfxFlag::ExtractToTemp;
  const SequenceCase cases[] = {
      {"temporary setup: unattended, exit 0", temp, "", "", true, 0, false, true, 0},
      {"temporary setup: exit 7 passed on", temp, "", "", true, 7, false, true, 7},
      {"a start-up question brings the dialog", temp, "Install?", "", true, 0, false, false, 0},
      {"/noauto brings the dialog", temp, "", "/noauto", true, 0, false, false, 0},
      {"the program cannot start: exit 2", temp, "", "", false, 0, false, true, kExitFailure},
      {"an error box while the dialog is up", temp, "", "", true, 0, true, true, kExitFailure},
      {"a setup into a folder: not unattended", SfxFlag::CrcAfterHeaders, "", "", true, 5, false, false, 5},
  };
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    SyntheticSfx options;
    options.flags = c.flags;
    options.texts[0] = (c.flags & SfxFlag::ExtractToTemp) ? "" : MakeTempFolder();
    options.texts[2] = c.prompt;
    options.runCommand = "setup.exe {folder}";
    std::string folder = MakeTempFolder();
    WriteFile(folder + "/setup.exe", MakeSyntheticSfx(options).bytes);
    HostSetModulePath(folder + "/setup.exe");
    std::string seenFolder;
    bool seenUnattended = false;
    HostSetMainDialogHandler([&] {
      seenUnattended = Sfx.Unattended != 0;
      if (Sfx.Config->SfxFlags & SfxFlag::ExtractToTemp) MakeFreshTempFolder();
      seenFolder = Sfx.TargetFolder;
      if (c.raiseInDialog) FatalError("Something failed.");
      Sfx.ProgramDue = 1;
    });
    std::string programFolder;
    HostSetProgramHandler([&](const HostProgramStart& start, DWORD* exitCode) {
      programFolder = start.currentFolder;
      EXPECT_TRUE(fs::exists(PosixOf(start.currentFolder)));
      *exitCode = c.programExit;
      return c.programStarts;
    });
    std::string tail = c.tail;
    EXPECT_EQ(StartSelfExtractor(nullptr, tail.data()), c.exitCode);
    EXPECT_EQ(seenUnattended, c.unattended);
    EXPECT_EQ(HostMainDialogRuns(), 1);
    if (!c.raiseInDialog) {
      EXPECT_EQ(programFolder, seenFolder);
      ASSERT_EQ(HostProgramStarts().size(), 1u);
      EXPECT_EQ(HostProgramStarts()[0].commandLine, "setup.exe " + seenFolder);
    }
    if (c.flags & SfxFlag::ExtractToTemp) {
      EXPECT_EQ(seenFolder.rfind(base_ + "\\dravik-", 0), 0u) << seenFolder;
      EXPECT_TRUE(FoldersInBase().empty()) << "the temporary folder was left";
    } else {
      EXPECT_TRUE(fs::exists(seenFolder)) << "a chosen folder is never removed";
    }
  }
}

}  // namespace
