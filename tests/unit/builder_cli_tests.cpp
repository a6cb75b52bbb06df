// dravik-sfx as a CI step sees it: every error one line on standard error
// with the right exit status, --version, messages that name files and
// entries the host's way, excludes and links, reproducible builds from any
// checkout, and the bash completion written from the option table.
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    work = MakeTempFolder();
    source = work + "/src";
    MakeSourceTree(source);
    notes = work + "/notes.txt";
    WriteFile(notes, {'h', 'i', '\n'});
  }
  std::string work, source, notes;
};

// Arguments, exit status, and what the one line on standard error (or
// standard output, for a success) must hold.
TEST_F(Cli, EveryErrorIsOneLineWithItsStatus) {
  const std::string out = work + "/o.exe";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;  // in stderr for a failure, in stdout for a success
  } cases[] = {
      {{}, 64, "dravik-sfx: a command is required (see 'dravik-sfx --help')"},
      {{"frob"}, 64, "dravik-sfx: unknown command 'frob' (see 'dravik-sfx --help')"},
      {{"build", "-o", out, "--level", "13", source}, 64, "dravik-sfx build: --level takes 0 to 12 (see 'dravik-sfx build --help')"},
      {{"build", "-o", out, "-j", "0", source}, 64, "-j takes a number of threads from 1 to 256"},
      {{"build", "-o", out, "--codepage", "437", source}, 64, "--codepage takes a Windows ANSI code page"},
      {{"build", "-o", out, "--zip-codepage", "9999", source}, 64, "--zip-codepage takes a code page"},
      {{"build", "-o", out, "--prompt-buttons", "maybe", source}, 64, "--prompt-buttons takes ok, yesno or okcancel"},
      {{"build", "-o", out, "--date", "yesterday", source}, 64, "--date takes a Unix time in seconds"},
      {{"build", source}, 64, "-o OUT.exe is required"},
      {{"build", "-o", out, source, "--folder"}, 64, "--folder needs TEXT"},
      {{"info"}, 64, "dravik-sfx info: FILE.exe is required (see 'dravik-sfx info --help')"},
      {{"info", "a.exe", "b.exe"}, 64, "dravik-sfx info: takes one FILE.exe; 'b.exe' is another"},
      {{"test", "--bogus", notes}, 64, "dravik-sfx test: unknown option --bogus"},
      {{"extract", notes, "--overwrite", "--skip-existing"}, 64, "exclude each other"},
      {{"version", "x"}, 64, "dravik-sfx version: unexpected argument 'x'"},
      {{"build", "-o", out, "-C", work, "missing-dir"}, 2, "missing-dir: No such file or directory"},
      {{"test", notes}, 2, "notes.txt is not a self-extractor (no configuration record)"},
      {{"extract", notes}, 2, "notes.txt is not a self-extractor"},
      {{"info", notes}, 2, "notes.txt is not a self-extractor"},
      {{"test", work + "/absent.exe"}, 2, "absent.exe: No such file or directory"},
      {{"--version"}, 0, "dravik-sfx 1."},
      {{"-V"}, 0, "x64 (PE32+)"},
      {{"version"}, 0, "libraries: zlib"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    CommandResult r = RunSfx(c.args);
    EXPECT_EQ(r.status, c.status) << shown << r.err;
    const std::string& said = c.status ? r.err : r.out;
    EXPECT_NE(said.find(c.says), std::string::npos) << shown << "\n" << said;
    if (c.status) {
      EXPECT_EQ(LineCount(r.err), 1) << shown << "\n" << r.err;
      std::string speaker = "dravik-sfx" + (c.args.empty() || c.args[0] == "frob" ? ":" : " " + c.args[0] + ":");
      EXPECT_EQ(r.err.rfind(speaker, 0), 0u) << shown << "\n" << r.err;
    }
    EXPECT_NE(access(out.c_str(), F_OK), 0) << shown;
  }
}

TEST_F(Cli, TheOutputFolderIsMadeWhenMissing) {
  std::string out = work + "/new/deeper/setup.exe";
  CommandResult built = RunSfx({"build", "-o", out, "-C", source, "."});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(RunSfx({"test", out}).status, 0);
}

// test names a damaged entry as the archive names it; extract shows the
// existing file's path the host's way.
TEST_F(Cli, MessagesNameEntriesAndPathsTheHostsWay) {
  std::string exe = work + "/out.exe";
  ASSERT_EQ(RunSfx({"build", "-o", exe, "--level", "0", "-C", source, "sub"}).status, 0);
  std::vector<uint8_t> image = ReadFile(exe);
  std::string text(image.begin(), image.end());
  size_t data = text.find("sub/b.txt");
  ASSERT_NE(data, std::string::npos);
  image[data + 9 + 5] ^= 1;  // a byte of b.txt's stored data, past its local name
  WriteFile(work + "/damaged.exe", image);
  CommandResult tested = RunSfx({"test", work + "/damaged.exe"});
  EXPECT_EQ(tested.status, 2);
  EXPECT_NE(tested.err.find("sub/b.txt"), std::string::npos) << tested.err;
  EXPECT_EQ(tested.err.find("nonexistent"), std::string::npos) << tested.err;
  EXPECT_EQ(tested.err.find('\\'), std::string::npos) << tested.err;

  std::string target = work + "/target";
  ASSERT_EQ(RunSfx({"extract", exe, "-d", target}).status, 0);
  CommandResult again = RunShell(ShellQuote(DRAVIK_SFX_PROGRAM) + " extract " + ShellQuote(exe) + " -d " +
                                 ShellQuote(target) + " </dev/null");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find(target + "/sub/b.txt"), std::string::npos) << again.err;
  EXPECT_EQ(again.err.find('\\'), std::string::npos) << again.err;
}

// A self-extractor built with --crc-from-start and signed afterwards fails
// its stub CRC; the line names the file and says why.
TEST_F(Cli, SignedCrcFromStartSaysWhy) {
  std::string signer = RequireTool("osslsigncode"), openssl = RequireTool("openssl");
  std::string exe = work + "/fromstart.exe", key = work + "/key.pem", cert = work + "/cert.pem";
  ASSERT_EQ(RunSfx({"build", "-o", exe, "--crc-from-start", "-C", source, "."}).status, 0);
  ASSERT_EQ(RunShell(openssl + " req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 -keyout " + ShellQuote(key) +
                     " -out " + ShellQuote(cert)).status, 0);
  CommandResult signedIt = RunShell(signer + " sign -certs " + ShellQuote(cert) + " -key " + ShellQuote(key) + " -in " +
                                    ShellQuote(exe) + " -out " + ShellQuote(work + "/signed.exe"));
  ASSERT_EQ(signedIt.status, 0) << signedIt.out << signedIt.err;
  CommandResult tested = RunSfx({"test", work + "/signed.exe"});
  EXPECT_EQ(tested.status, 2);
  EXPECT_EQ(LineCount(tested.err), 1) << tested.err;
  EXPECT_NE(tested.err.find("signed.exe: Dravik Self-Extractor header corrupt."), std::string::npos) << tested.err;
  EXPECT_NE(tested.err.find("--crc-from-start, which does not survive signing"), std::string::npos) << tested.err;
}

// --exclude leaves out what matches by name or by path; links are left out
// with a note unless --follow-links asks for what they point to.
TEST_F(Cli, ExcludesAndLinks) {
  ASSERT_EQ(mkdir((source + "/.git").c_str(), 0755), 0);
  WriteFile(source + "/.git/HEAD", {'r'});
  WriteFile(source + "/sub/scratch.tmp", {'t'});
  WriteFile(source + "/keep.tmpl", {'k'});
  ASSERT_EQ(symlink("/etc/passwd", (source + "/passwd").c_str()), 0);
  auto names = [&](const std::string& exe) {
    CommandResult listed = RunShell("python3 -c 'import sys, zipfile; print(\" \".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
                                    ShellQuote(exe));
    return listed.out;
  };
  std::string exe = work + "/out.exe";
  CommandResult built = RunSfx({"build", "-o", exe, "--exclude", ".git", "--exclude", "*.tmp", "--exclude", "sub/c.bin",
                                "-C", source, "."});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(names(exe), "a.txt empty/ empty.dat keep.tmpl sub/ sub/b.txt\n");
  EXPECT_NE(built.err.find("left out the symbolic link"), std::string::npos) << built.err;

  built = RunSfx({"build", "-o", exe, "--follow-links", "--exclude", ".git", "-C", source, "."});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_NE(names(exe).find("passwd"), std::string::npos);
}

// Two checkouts of one tree, in other folders and with other times, built
// with the same SOURCE_DATE_EPOCH: the same bytes, and no absolute path in
// the default information text.
TEST_F(Cli, ReproducibleFromAnyCheckout) {
  std::string other = work + "/elsewhere/src";
  ASSERT_EQ(RunShell("mkdir -p " + ShellQuote(work + "/elsewhere") + " && cp -r " + ShellQuote(source) + " " +
                     ShellQuote(other) + " && touch " + ShellQuote(other + "/a.txt")).status, 0);
  const std::string epoch = "SOURCE_DATE_EPOCH=1600000000";
  ASSERT_EQ(RunSfx({"build", "-o", work + "/one.exe", "-C", source, "."}, epoch).status, 0);
  ASSERT_EQ(RunSfx({"build", "-o", work + "/two.exe", "-C", other, "."}, epoch).status, 0);
  EXPECT_TRUE(ReadFile(work + "/one.exe") == ReadFile(work + "/two.exe"));
  CommandResult info = RunSfx({"info", "--json", work + "/one.exe"});
  EXPECT_NE(info.out.find("\"InfoText\": \"Built by dravik-sfx build -C src\""), std::string::npos) << info.out;
}

// The entries are deflated in parallel, each on its own: any number of
// threads gives the same bytes, at every level.
TEST_F(Cli, ThreadsDoNotChangeTheBytes) {
  for (int i = 0; i < 12; i++) {
    std::vector<uint8_t> text(20000 + i * 3000);
    for (size_t k = 0; k < text.size(); k++) text[k] = static_cast<uint8_t>("abcde fghij\n"[(k * (i + 3)) % 12]);
    WriteFile(source + "/sub/text" + std::to_string(i) + ".txt", text);
  }
  for (const char* level : {"1", "6", "12"}) {
    std::vector<uint8_t> one, two;
    for (const char* threads : {"1", "2", "5"}) {
      std::string exe = work + "/j" + std::string(threads) + ".exe";
      CommandResult built = RunSfx({"build", "-o", exe, "--level", level, "-j", threads, "-C", source, "."});
      ASSERT_EQ(built.status, 0) << built.err;
      EXPECT_EQ(built.err, "") << "no progress line outside a terminal";
      if (one.empty()) one = ReadFile(exe);
      else EXPECT_TRUE(one == ReadFile(exe)) << "level " << level << ", " << threads << " threads";
    }
    EXPECT_EQ(RunSfx({"test", work + "/j1.exe"}).status, 0) << level;
  }
}

// On a terminal a build shows its progress on standard error; -q and a pipe
// keep it quiet.
TEST_F(Cli, ProgressLineOnATerminalOnly) {
  RequireTool("script");
  auto underTerminal = [&](const std::string& options) {
    std::string command = ShellQuote(DRAVIK_SFX_PROGRAM) + " build -o " + ShellQuote(work + "/p.exe") + options +
                          " -C " + ShellQuote(source) + " .";
    return RunShell("script -qec " + ShellQuote(command) + " /dev/null").out;
  };
  EXPECT_NE(underTerminal("").find("dravik-sfx build: 3 of 3 files"), std::string::npos) << underTerminal("");
  EXPECT_EQ(underTerminal(" -q").find("files"), std::string::npos);
}

// The completion offers each command, and each command's own options.
TEST_F(Cli, BashCompletionOffersTheTablesOptions) {
  std::string script = work + "/completion.bash";
  CommandResult written = RunShell(ShellQuote(DRAVIK_SFX_PROGRAM) + " generate bash-completion > " + ShellQuote(script));
  ASSERT_EQ(written.status, 0);
  auto complete = [&](const std::string& words, int current) {
    return RunShell("bash -c " + ShellQuote("source " + script + "; COMP_WORDS=(" + words + "); COMP_CWORD=" +
                                            std::to_string(current) + "; _dravik_sfx; echo ${COMPREPLY[@]}")).out;
  };
  EXPECT_EQ(complete("dravik-sfx ex", 1), "extract\n");
  EXPECT_EQ(complete("dravik-sfx build --ex", 2), "--exclude --exe-volumes\n");
  EXPECT_EQ(complete("dravik-sfx info --", 2), "--entries --json --help\n");
  CommandResult man = RunShell(ShellQuote(DRAVIK_SFX_PROGRAM) + " generate man");
  EXPECT_EQ(man.out.rfind(".TH DRAVIK\\-SFX 1", 0), 0u) << man.out;
}

}  // namespace
