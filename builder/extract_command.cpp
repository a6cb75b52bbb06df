// dravik-sfx extract and test.
//
// The self-extractor is opened and checked exactly as the stub does at
// start-up (the same code, on the host platform), and extracted by the same
// engine. Message boxes become lines on standard error in the stub's words;
// questions are answered from the options or, where a terminal is at hand,
// by the user. `test` runs the engine with the host platform in dry-run
// mode: every entry is decoded and its CRC checked, nothing is written;
// first it walks the local records as the stub does and compares them with
// the central directory, so that what it passes is what unzip -l lists.
#include "builder/extract_command.h"

#include "archive/record_walker.h"
#include "base/sfx_state.h"
#include "builder/archive_walk.h"
#include "builder/cli.h"
#include "builder/file_io.h"
#include "builder/pe_image.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "platform/host/host_control.h"
#include "startup/start_sequence.h"

#include <iconv.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct ExtractOptions {
  std::string file;
  std::string folder = ".";
  bool overwrite = false;
  bool skipExisting = false;
  bool havePassword = false;
  std::string password;
  unsigned codePage = 1252;
  bool testOnly = false;
};

const char* CommandName(const ExtractOptions& options) { return options.testOnly ? "test" : "extract"; }

// Parses the options; returns -1 to go on, or an exit status.
int ParseOptions(int argc, char** argv, ExtractOptions* options) {
  const std::string name = CommandName(*options);
  const CliCommand& command = *FindCommand(name);
  for (int i = 0; i < argc; i++) {
    std::string arg = argv[i];
    if (arg.empty() || arg[0] != '-') {
      if (!options->file.empty()) return UsageError(name, "takes one FILE.exe; '" + arg + "' is another");
      options->file = arg;
      continue;
    }
    const CliOption* option = FindOption(command, arg);
    if (!option) return UsageError(name, "unknown option " + arg);
    std::string value;
    if (option->value) {
      if (i + 1 >= argc) return UsageError(name, arg + " needs " + option->value);
      value = argv[++i];
    }
    const std::string given = option->name;
    if (given == "--help") {
      fputs(UsageText(command).c_str(), stdout);
      return 0;
    } else if (given == "-d") {
      options->folder = value;
    } else if (given == "--overwrite") {
      options->overwrite = true;
    } else if (given == "--skip-existing") {
      options->skipExisting = true;
    } else if (given == "--password") {
      options->havePassword = true;
      options->password = value;
    } else if (given == "--codepage") {
      options->codePage = static_cast<unsigned>(atoi(value.c_str()));
      if (options->codePage != 1252 && options->codePage != 932) return UsageError(name, "--codepage takes 1252 or 932");
    }
  }
  if (options->file.empty()) return UsageError(name, "FILE.exe is required");
  if (options->overwrite && options->skipExisting) return UsageError(name, "--overwrite and --skip-existing exclude each other");
  return -1;
}

std::string AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (path[0] == '/') return path;
  if (!getcwd(resolved, sizeof resolved)) return path;
  return std::string(resolved) + "/" + path;
}

// Paths in the stub's messages are Windows paths under the destination
// folder ("\tmp\out\docs\a.txt"); on the host they are shown the host's
// way ("/tmp/out/docs/a.txt"), and `test`, which extracts nowhere, names an
// entry as the archive names it ("docs/a.txt").
struct PathShown {
  std::string windowsPrefix;  // the destination as the stub writes it, with its closing '\'
  std::string hostPrefix;     // what stands for it on the host
};

PathShown Shown;

void ShowPathsUnder(const std::string& target, const std::string& hostPrefix) {
  Shown.windowsPrefix = target;
  for (char& c : Shown.windowsPrefix)
    if (c == '/') c = '\\';
  if (Shown.windowsPrefix.empty() || Shown.windowsPrefix.back() != '\\') Shown.windowsPrefix += '\\';
  Shown.hostPrefix = hostPrefix;
}

std::string ShownText(const std::string& text) {
  size_t at = text.find(Shown.windowsPrefix);
  if (Shown.windowsPrefix.empty() || at == std::string::npos) return text;
  std::string rest = text.substr(at + Shown.windowsPrefix.size());
  size_t lineEnd = rest.find('\n');
  for (size_t i = 0; i < rest.size() && i < lineEnd; i++)
    if (rest[i] == '\\') rest[i] = '/';
  return text.substr(0, at) + Shown.hostPrefix + rest;
}

// Reads a line from the terminal, without echo when asked; false when there
// is no terminal.
bool AskTerminal(const char* prompt, bool echo, std::string* answer) {
  FILE* tty = fopen("/dev/tty", "r+");
  if (!tty) return false;
  fputs(prompt, tty);
  fflush(tty);
  struct termios saved, quiet;
  bool hidden = !echo && tcgetattr(fileno(tty), &saved) == 0;
  if (hidden) {
    quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(tty), TCSANOW, &quiet);
  }
  char line[512];
  bool got = fgets(line, sizeof line, tty) != nullptr;
  if (hidden) {
    tcsetattr(fileno(tty), TCSANOW, &saved);
    fputs("\n", tty);
  }
  fclose(tty);
  if (!got) return false;
  *answer = line;
  while (!answer->empty() && (answer->back() == '\n' || answer->back() == '\r')) answer->pop_back();
  return true;
}

// The overwrite question: --overwrite never gets here, --skip-existing
// answers No, a terminal asks the user, and without one the run is refused.
int AnswerOverwrite(const HostMessageBox& box, const ExtractOptions& options) {
  if (options.skipExisting) return IDNO;
  std::string answer, text = ShownText(box.text);
  if (AskTerminal((text + " [y]es, [n]o, [c]ancel: ").c_str(), true, &answer)) {
    if (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) return IDYES;
    if (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) return IDNO;
    return IDCANCEL;
  }
  fprintf(stderr, "%s\ndravik-sfx extract: not overwritten; use --overwrite or --skip-existing\n", text.c_str());
  return IDCANCEL;
}

// A spanned set lies beside the self-extractor as folders disk1, disk2, ...
// one per disk, each the contents of that disk. The stub reads them through
// a simulated removable drive A:, and each disk prompt puts the wanted disk
// in it.
struct DiskSet {
  bool spanned = false;
  std::string base;  // the folder holding disk1, disk2, ...
  std::string name;  // the self-extractor's file name
};

DiskSet Disks;

std::string DiskFolder(unsigned number) { return Disks.base + "/disk" + std::to_string(number); }

bool FolderExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void InsertDisk(unsigned number) {
  char label[32];
  snprintf(label, sizeof label, "PKBACK# %03u", number);
  HostMapDrive('A', DiskFolder(number), label);
}

// The disk a prompt asks for: the number in its text, or the last disk.
unsigned WantedDisk(const std::string& text) {
  size_t digit = text.find_first_of("0123456789");
  if (digit != std::string::npos) return static_cast<unsigned>(atoi(text.c_str() + digit));
  unsigned last = 1;
  while (FolderExists(DiskFolder(last + 1))) last++;
  return last;
}

// Puts the wanted disk in the drive when the set has it; false otherwise.
bool AnswerDiskPrompt(const HostMessageBox& box) {
  unsigned wanted = WantedDisk(box.text);
  if (!Disks.spanned || !FolderExists(DiskFolder(wanted))) return false;
  InsertDisk(wanted);
  return true;
}

// The file being tested or extracted, for the lines that name it.
struct Subject {
  std::string file;
  bool signedAfterCrcFromStart = false;  // its stub CRC covers the header a signature changed
};

Subject TheSubject;

// The header-corrupt text names the file, and says why when the file was
// built with --crc-from-start and signed afterwards.
std::string WithSubject(const std::string& text) {
  if (text != HeaderCorruptText()) return text;
  std::string line = TheSubject.file + ": " + text;
  if (TheSubject.signedAfterCrcFromStart)
    line += " (it was signed after a build with --crc-from-start, which does not survive signing: build without it)";
  return line;
}

// What the stub would show becomes a line on standard error; questions are
// answered as the options say.
int AnswerBox(const HostMessageBox& box, const ExtractOptions& options) {
  UINT buttons = box.type & 0xF;
  if (buttons == MB_YESNOCANCEL) return AnswerOverwrite(box, options);
  if (box.type & MB_TASKMODAL) return buttons == MB_YESNO ? IDYES : IDOK;  // the builder's start-up question
  if (buttons == MB_OKCANCEL || buttons == MB_ABORTRETRYIGNORE) {  // a disk prompt
    bool inserted = AnswerDiskPrompt(box);
    if (!inserted) fprintf(stderr, "%s\n", box.text.c_str());
    if (buttons == MB_OKCANCEL) return inserted ? IDOK : IDCANCEL;
    return inserted ? IDRETRY : IDABORT;
  }
  fprintf(stderr, "%s\n", WithSubject(ShownText(box.text)).c_str());
  return IDOK;
}

// Finds the disk folders of a spanned self-extractor, given either the
// self-extractor beside them or its copy inside disk1.
void FindDiskSet(const std::string& file) {
  Disks = DiskSet{};
  std::string path = AbsolutePath(file);
  size_t slash = path.rfind('/');
  std::string folder = path.substr(0, slash);
  Disks.name = path.substr(slash + 1);
  size_t parent = folder.rfind('/');
  std::string last = folder.substr(parent + 1);
  Disks.base = (last.rfind("disk", 0) == 0 && last.size() > 4) ? folder.substr(0, parent) : folder;
}

// The password in the target code page, when it differs from the bytes as
// given (a UTF-8 password typed on Linux for a Windows self-extractor).
bool ConvertPassword(const std::string& password, unsigned codePage, std::string* converted) {
  iconv_t converter = iconv_open(codePage == 932 ? "CP932" : "CP1252", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = password, out(password.size() * 2 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t fromLeft = in.size(), toLeft = out.size();
  bool ok = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  out.resize(out.size() - toLeft);
  *converted = out;
  return ok && out != password;
}

// Where a run ended.
struct RunResult {
  UINT exitCode;
  int runCode;  // -1: no run took place (start-up ended the program)
  std::string summary;  // the stub's count of files unzipped
  bool wrongPassword;
  std::string damage;  // test: how the walked records differ from the central directory
  std::string runCommand;  // a setup's program, which is never run here
};

// For test: the archive the stub walks (from the ArchiveOffset of the record
// it reads) must be the one the central directory lists; otherwise the
// stub's damaged-archive text with what differs. Empty when they agree, and
// for a spanned set, whose volumes lie on the disks.
std::string DifferenceFromDirectory(const std::string& file) {
  if (Sfx.SpannedSet) return "";
  std::vector<uint8_t> bytes;
  std::string difference;
  if (!ReadWholeFile(file, &bytes)) difference = "the file cannot be read whole";
  else if (CompareWalkWithDirectory(bytes, Sfx.Config->ArchiveOffset, &difference)) return "";
  return std::string(MsgText(MsgZipDamaged)) + " (" + difference + ")";
}

// One start of the self-extractor with a run of its engine. A quiet run
// (a trial of the password) shows nothing and declines every question.
RunResult RunOnce(const ExtractOptions& options, const std::string& password, bool dryRun, bool quiet) {
  HostReset();
  HostSetCodePage(options.codePage);
  HostSetDryRun(dryRun);
  if (Disks.spanned) {
    InsertDisk(1);
    HostSetModulePath("A:\\" + Disks.name);
  } else {
    HostSetModulePath(AbsolutePath(options.file));
  }
  HostSetRecording(false);  // nothing is kept per entry, whatever the archive's size
  RunResult result{0, -1, "", false, "", ""};
  // A box from the run comes while the message table is loaded, so its text
  // can be compared with the table's (start-up boxes may come before it).
  HostSetMessageBoxHandler([&](const HostMessageBox& box) {
    if (Sfx.MessageTable && box.text == MsgText(MsgWrongPassword)) result.wrongPassword = true;
    if (quiet) return (box.type & 0xF) == MB_OK ? IDOK : IDCANCEL;
    return AnswerBox(box, options);
  });
  Sfx = SfxState{};
  static char passwordBuffer[256];
  std::string target = dryRun ? "/nonexistent/dravik-sfx-test" : AbsolutePath(options.folder);
  std::string hostPrefix = dryRun ? "" : options.folder + (options.folder.back() == '/' ? "" : "/");
  ShowPathsUnder(target, hostPrefix == "./" ? "" : hostPrefix);
  HostSetMainDialogHandler([&] {
    // The texts go with the table when the program shuts down: take them now.
    if (options.testOnly && !quiet && !(result.damage = DifferenceFromDirectory(options.file)).empty()) return;
    snprintf(Sfx.TargetFolder, sizeof Sfx.TargetFolder, "%s", target.c_str());
    if (options.overwrite) Sfx.OverwriteWithoutPrompt = 1;
    if (!password.empty()) {
      snprintf(passwordBuffer, sizeof passwordBuffer, "%s", password.c_str());
      Sfx.Password = passwordBuffer;
    }
    result.runCode = RunExtraction();
    result.runCommand = Sfx.RunCommand;
    char line[128];
    snprintf(line, sizeof line, MsgText(MsgFilesUnzipped), static_cast<int>(Sfx.FilesUnzipped));
    result.summary = line;
  });
  std::string tail;
  result.exitCode = StartSelfExtractor(nullptr, tail.data());
  return result;
}

// The flags word of the self-extractor's record (0 without one).
uint32_t RecordFlags(const std::string& file) {
  HostReset();
  HostSetModulePath(AbsolutePath(file));
  const SfxConfigRecord* record = PlatformSfxRecord();
  return record ? record->SfxFlags : 0;
}

// The password to use: as given, or converted to the code page when only
// that one opens the archive (tried with a dry run, so nothing is written
// twice).
std::string ChoosePassword(const ExtractOptions& options) {
  std::string password = options.password;
  if (!options.havePassword && (RecordFlags(options.file) & SfxFlag::HasPassword)) {
    if (!AskTerminal("Password: ", false, &password)) password.clear();
  }
  std::string converted;
  if (password.empty() || !ConvertPassword(password, options.codePage, &converted)) return password;
  RunResult asGiven = RunOnce(options, password, true, true);
  return asGiven.wrongPassword ? converted : password;
}

// The first bytes of the file: enough for its image headers.
std::vector<uint8_t> FileHead(FILE* file) {
  std::vector<uint8_t> head(4096);
  head.resize(fread(head.data(), 1, head.size(), file));
  return head;
}

int Run(ExtractOptions& options) {
  const char* name = CommandName(options);
  FILE* probe = fopen(options.file.c_str(), "rb");
  if (!probe) return FailureLine(name, "cannot open " + options.file + ": " + strerror(errno));
  std::vector<uint8_t> head = FileHead(probe);
  fclose(probe);
  HostReset();
  HostSetModulePath(AbsolutePath(options.file));
  const SfxConfigRecord* record = PlatformSfxRecord();
  if (!record) return FailureLine(name, options.file + " is not a self-extractor (no configuration record)");
  TheSubject = {options.file, HasCodeSignature(head) && !(record->SfxFlags & SfxFlag::CrcAfterHeaders)};
  FindDiskSet(options.file);
  Disks.spanned = (RecordFlags(options.file) & SfxFlag::SpannedArchive) != 0;
  std::string password = ChoosePassword(options);
  RunResult result = RunOnce(options, password, options.testOnly, false);
  if (!result.damage.empty()) {
    fprintf(stderr, "%s\n", result.damage.c_str());
    return 2;
  }
  if (result.runCode == 0) printf("%s%s\n", result.summary.c_str(), options.testOnly ? " (tested, nothing written)" : "");
  // A setup's program is a Windows program: the host tool extracts, and
  // says what the self-extractor would have run.
  if (result.runCode == 0 && !result.runCommand.empty())
    printf("not run here: the setup's command \"%s\"\n", result.runCommand.c_str());
  if (result.runCode < 0 && result.exitCode == 0) return FailureLine(name, "the self-extractor ended before extracting");
  return static_cast<int>(result.exitCode);
}

}  // namespace

int ExtractCommand(int argc, char** argv) {
  ExtractOptions options;
  int parsed = ParseOptions(argc, argv, &options);
  return parsed >= 0 ? parsed : Run(options);
}

int TestCommand(int argc, char** argv) {
  ExtractOptions options;
  options.testOnly = true;
  int parsed = ParseOptions(argc, argv, &options);
  return parsed >= 0 ? parsed : Run(options);
}
