// dravik-sfx build: a new self-extractor from files and folders or from an
// existing ZIP archive.
#include "builder/build_command.h"

#include "builder/cli.h"
#include "builder/deflate_pool.h"
#include "builder/file_io.h"
#include "builder/icon_file.h"
#include "builder/pe_image.h"
#include "builder/publisher_resources.h"
#include "builder/sfx_stream.h"
#include "builder/span_writer.h"
#include "builder/sfx_writer.h"
#include "builder/text_codec.h"
#include "builder/zip_aes.h"
#include "builder/zip_from_files.h"
#include "builder/zip_limits.h"
#include "builder/zip_reencode.h"
#include "builder/zip_reader.h"
#include "container/sfx_config.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

// The stubs built with this program, one per architecture.
extern const unsigned char EmbeddedStubX86[];
extern const unsigned EmbeddedStubX86_size;
extern const unsigned char EmbeddedStubX64[];
extern const unsigned EmbeddedStubX64_size;

namespace {

struct BuildOptions {
  std::string output, zip, stub, baseFolder;
  std::vector<std::string> paths;
  std::string folder, prompt, caption, info, password, run;
  bool haveInfo = false, havePassword = false;
  std::string promptButtons = "ok";
  bool captionTitle = false, overwrite = false, automatic = false, temp = false;
  bool noStubCrc = false, crcFromStart = false, exeVolumes = false, splitSet = false;
  int level = kDefaultDeflateLevel;
  unsigned threads = DefaultThreads();
  bool quiet = false;
  unsigned codePage = 1252;
  bool ansiNames = false;
  unsigned zipCodePage = 437;
  bool zipCodePageGiven = false;
  uint32_t span = 0;
  std::vector<std::string> excludes;
  bool followLinks = false;
  bool haveDate = false;
  int64_t latestDate = 0;  // with haveDate: no entry is dated later
  StubArch arch = StubArch::X86;
  bool haveArch = false;
  std::string text, license, icon;  // --text; the --license and --icon files
  std::string buttons;              // --buttons as given; empty: the default
  VersionStrings versionStrings;    // --version-info, keys in Windows' spelling
  ExecutionLevel executionLevel = ExecutionLevel::AsInvoker;
  bool haveExecutionLevel = false;
  std::string given;  // the options as given, for the default information text
};

int Usage(const std::string& why) { return UsageError("build", why); }

int Failure(const std::string& why) { return FailureLine("build", why); }

// "64K", "1M", "1440000": bytes; 0 when malformed.
uint32_t ParseSize(const std::string& text) {
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  if (*end == 'K' || *end == 'k') value *= 1024, end++;
  else if (*end == 'M' || *end == 'm') value *= 1024 * 1024, end++;
  return *end || value > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(value);
}

// Adds an option and its value to the record of the options given, which
// becomes the default information text; a value with spaces is quoted.
void RecordGiven(char** words, int count, std::string* given) {
  for (int i = 0; i < count; i++) {
    std::string word = words[i];
    if (word.empty() || word.find_first_of(" \t\"") != std::string::npos) word = "\"" + word + "\"";
    *given += (given->empty() ? "" : " ") + word;
  }
}

// A Unix time in whole seconds, as SOURCE_DATE_EPOCH gives it.
bool ParseDate(const std::string& text, int64_t* seconds_ret) {
  char* end = nullptr;
  long long value = strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end || value < 0) return false;
  *seconds_ret = value;
  return true;
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention, when set; false
// when it is set to something that is not a time.
bool DateFromEnvironment(int64_t* seconds_ret, bool* have_ret) {
  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  if (!epoch) return true;
  *have_ret = true;
  return ParseDate(epoch, seconds_ret);
}

// A code page number that `accepted` allows; 0 for anything else.
unsigned ParseCodePage(const std::string& text, bool (*accepted)(unsigned)) {
  char* end = nullptr;
  unsigned long value = strtoul(text.c_str(), &end, 10);
  bool number = end != text.c_str() && !*end && value < 65536;
  return number && accepted(static_cast<unsigned>(value)) ? static_cast<unsigned>(value) : 0;
}

// "run,about,help", "none": the hide bits of the buttons left out; false
// for a word that names no button.
bool ParseButtons(const std::string& list, uint32_t* hidden_ret) {
  uint32_t hidden = SfxFlag::HideRunArchiver | SfxFlag::HideAbout | SfxFlag::HideHelp;
  if (list == "none") {
    *hidden_ret = hidden;
    return true;
  }
  size_t at = 0;
  do {
    size_t end = list.find(',', at);
    std::string word = list.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (word == "run") hidden &= ~SfxFlag::HideRunArchiver;
    else if (word == "about") hidden &= ~SfxFlag::HideAbout;
    else if (word == "help") hidden &= ~SfxFlag::HideHelp;
    else return false;
    at = end == std::string::npos ? end : end + 1;
  } while (at != std::string::npos);
  *hidden_ret = hidden;
  return true;
}

// "KEY=VALUE" of --version-info, checked and added (a repeated key replaces
// the earlier value); the reason when it is wrong, else empty.
std::string AddVersionString(const std::string& assignment, VersionStrings* strings) {
  size_t equals = assignment.find('=');
  std::string key = CanonicalVersionKey(assignment.substr(0, equals));
  if (equals == std::string::npos || key.empty())
    return "--version-info takes KEY=VALUE with KEY one of ProductName, CompanyName, FileDescription, FileVersion, "
           "ProductVersion, LegalCopyright, LegalTrademarks, InternalName, OriginalFilename, Comments";
  std::string value = assignment.substr(equals + 1);
  std::u16string wide;
  if (!Utf8ToUtf16(value, &wide) || wide.find(u'\0') != std::u16string::npos)
    return "--version-info " + key + " is not UTF-8 text";
  uint16_t parts[4];
  if ((key == "FileVersion" || key == "ProductVersion") && !ParseVersionNumber(value, parts))
    return "--version-info " + key + " takes at most four numbers of 0 to 65535 (\"2.1.0.5\")";
  for (auto& [name, text] : *strings)
    if (name == key) {
      text = value;
      return "";
    }
  strings->emplace_back(key, value);
  return "";
}

// Applies the option `name` (known to the table) with its value; the reason
// when the value is wrong, else empty.
std::string ApplyOption(const std::string& name, const std::string& value, BuildOptions* o) {
  if (name == "-o") o->output = value;
  else if (name == "-C") o->baseFolder = value;
  else if (name == "--zip") o->zip = value;
  else if (name == "--stub") o->stub = value;
  else if (name == "--exclude") o->excludes.push_back(value);
  else if (name == "--follow-links") o->followLinks = true;
  else if (name == "--date") {
    if (!ParseDate(value, &o->latestDate)) return "--date takes a Unix time in seconds";
    o->haveDate = true;
  } else if (name == "--arch") {
    if (!ParseStubArch(value, &o->arch)) return "--arch must be x86 or x64";
    o->haveArch = true;
  } else if (name == "--folder") o->folder = value;
  else if (name == "--prompt") o->prompt = value;
  else if (name == "--run") {
    if (value.find_first_not_of(' ') == std::string::npos) return "--run needs a command line";
    o->run = value;
  } else if (name == "--temp") o->temp = true;
  else if (name == "--caption") o->caption = value;
  else if (name == "--info") {
    o->info = value;
    o->haveInfo = true;
  } else if (name == "--password") {
    if (value.empty()) return "--password needs a text";
    o->password = value;
    o->havePassword = true;
  } else if (name == "--prompt-buttons") {
    if (value != "ok" && value != "yesno" && value != "okcancel") return "--prompt-buttons takes ok, yesno or okcancel";
    o->promptButtons = value;
  } else if (name == "--level") {
    char* end = nullptr;
    long level = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || level < 0 || level > kMaxDeflateLevel) return "--level takes 0 to 12";
    o->level = static_cast<int>(level);
  } else if (name == "-j") {
    char* end = nullptr;
    long threads = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || threads < 1 || threads > 256) return "-j takes a number of threads from 1 to 256";
    o->threads = static_cast<unsigned>(threads);
  } else if (name == "-q") {
    o->quiet = true;
  } else if (name == "--codepage") {
    if (!(o->codePage = ParseCodePage(value, IsSupportedCodePage)))
      return "--codepage takes a Windows ANSI code page: 1250 to 1258, 874, 932, 936, 949 or 950";
  } else if (name == "--zip-codepage") {
    if (!(o->zipCodePage = ParseCodePage(value, IsKnownCodePage)))
      return "--zip-codepage takes a code page this system can convert, such as 437, 850, 866 or 932";
    o->zipCodePageGiven = true;
  } else if (name == "--ansi-names") {
    o->ansiNames = true;
  } else if (name == "--span") {
    if (!(o->span = ParseSize(value))) return "--span needs a size in bytes";
  } else if (name == "--text") {
    if (value.empty()) return "--text needs a text";
    o->text = value;
  } else if (name == "--buttons") {
    uint32_t hidden;
    if (!ParseButtons(value, &hidden)) return "--buttons takes run, about and help separated by commas, or none";
    o->buttons = value;
  } else if (name == "--license") o->license = value;
  else if (name == "--icon") o->icon = value;
  else if (name == "--version-info") {
    std::string wrong = AddVersionString(value, &o->versionStrings);
    if (!wrong.empty()) return wrong;
  } else if (name == "--elevate" || name == "--highest-available") {
    ExecutionLevel level =
        name == "--elevate" ? ExecutionLevel::RequireAdministrator : ExecutionLevel::HighestAvailable;
    if (o->haveExecutionLevel && o->executionLevel != level)
      return "--elevate and --highest-available exclude each other";
    o->executionLevel = level;
    o->haveExecutionLevel = true;
  } else if (name == "--caption-title") o->captionTitle = true;
  else if (name == "--overwrite") o->overwrite = true;
  else if (name == "--auto") o->automatic = true;
  else if (name == "--no-stub-crc") o->noStubCrc = true;
  else if (name == "--crc-from-start") o->crcFromStart = true;
  else if (name == "--exe-volumes") o->exeVolumes = true;
  else if (name == "--split-set") o->splitSet = true;
  return "";
}

// Options that stay out of the default information text: where the output
// goes and which stub is used say nothing to the user, and a password or the
// text itself must not be shown.
bool IsRecorded(const std::string& name) {
  return name != "-o" && name != "--stub" && name != "--password" && name != "--info" && name != "-j" && name != "-q";
}

// A folder as the default information text shows it: never absolute, so that
// the publisher's own folders stay private and two checkouts of one tree
// give the same file. An absolute folder inside the current one is shown
// relative to it; any other by its own name.
std::string PortableFolder(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return folder;
  char current[PATH_MAX];
  std::string inside = getcwd(current, sizeof current) ? std::string(current) + "/" : std::string();
  if (!inside.empty() && folder.rfind(inside, 0) == 0 && folder.size() > inside.size()) return folder.substr(inside.size());
  std::string trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return trimmed.substr(trimmed.rfind('/') + 1);
}

// Parses the arguments; returns -1 to go on, or an exit status.
int ParseBuildOptions(int argc, char** argv, BuildOptions* o) {
  const CliCommand& command = *FindCommand("build");
  for (int i = 0; i < argc; i++) {
    const int first = i;
    std::string arg = argv[i];
    if (arg.empty() || arg[0] != '-' || arg == "-") {
      o->paths.push_back(arg);
      continue;
    }
    const CliOption* option = FindOption(command, arg);
    if (!option) return Usage("unknown option " + arg);
    if (!strcmp(option->name, "--help")) {
      fputs(UsageText(command).c_str(), stdout);
      return 0;
    }
    std::string value;
    if (option->value) {
      if (i + 1 >= argc) return Usage(arg + " needs " + option->value);
      value = argv[++i];
    }
    std::string wrong = ApplyOption(option->name, value, o);
    if (!wrong.empty()) return Usage(wrong);
    if (!strcmp(option->name, "-C")) {
      std::string shown = PortableFolder(value);
      char* words[] = {argv[first], shown.data()};
      RecordGiven(words, 2, &o->given);
    } else if (IsRecorded(option->name)) {
      RecordGiven(argv + first, i + 1 - first, &o->given);
    }
  }
  if (o->output.empty()) return Usage("-o OUT.exe is required");
  if (o->zip.empty() == o->paths.empty()) return Usage("give either PATHs or --zip IN.zip");
  if ((o->exeVolumes || o->splitSet) && !o->span && !o->splitSet) return Usage("--exe-volumes needs --span");
  if (o->splitSet && o->zip.empty()) return Usage("--split-set needs --zip");
  if (!o->haveDate && !DateFromEnvironment(&o->latestDate, &o->haveDate))
    return Usage("SOURCE_DATE_EPOCH must be a Unix time in seconds");
  if (o->temp && o->run.empty()) return Usage("--temp needs --run: the folder is removed once the program has run");
  if (o->temp && !o->folder.empty()) return Usage("--temp extracts into a folder of its own: leave out --folder");
  return -1;
}

// The default information text in the code page: it is ours, not the
// user's, so a character the code page lacks (a version string may hold any)
// becomes "?" rather than failing the build.
std::string DefaultInfoInCodePage(const std::string& utf8, unsigned codePage) {
  std::string out, converted;
  for (size_t at = 0; at < utf8.size();) {
    size_t length = 1;
    while (at + length < utf8.size() && (static_cast<unsigned char>(utf8[at + length]) >> 6) == 2) length++;
    out += Utf8ToCodePage(utf8.substr(at, length), codePage, &converted) ? converted : "?";
    at += length;
  }
  return out;
}

// The texts in the target code page, checked against their limits later.
bool ConvertTexts(const BuildOptions& o, SfxSettings* s, std::string* error) {
  const std::pair<const std::string*, std::string*> texts[] = {
      {&o.folder, &s->folder}, {&o.prompt, &s->prompt}, {&o.caption, &s->caption}, {&o.info, &s->info},
      {&o.run, &s->run}};
  for (const auto& [from, to] : texts) {
    if (from == &o.info && !o.haveInfo) {
      *to = DefaultInfoInCodePage(o.info, o.codePage);
      continue;
    }
    if (!Utf8ToCodePage(*from, o.codePage, to)) {
      *error = "the text \"" + *from + "\" cannot be written in code page " + std::to_string(o.codePage);
      return false;
    }
  }
  return true;
}

// The default information text is ours, not the user's: rather than refuse
// it, cut it to its limit, and not inside a double-byte character.
void FitDefaultInfo(unsigned codePage, std::string* info) {
  if (info->size() <= kInfoTextLimit) return;
  size_t kept = 0;
  while (kept < info->size()) {
    size_t step = IsDoubleByteLead(static_cast<uint8_t>((*info)[kept]), codePage) ? 2 : 1;
    if (kept + step > kInfoTextLimit) break;
    kept += step;
  }
  info->resize(kept);
}

// The optional buttons left out: those --buttons does not name; without it,
// none for an archive and all for a setup, which a caption makes: its users
// need no archiver, About or Help of ours.
uint32_t HiddenButtons(const BuildOptions& o) {
  uint32_t hidden = 0;
  if (!o.buttons.empty()) ParseButtons(o.buttons, &hidden);
  else if (!o.caption.empty() || !o.run.empty()) ParseButtons("none", &hidden);
  return hidden;
}

uint32_t FlagsOf(const BuildOptions& o, const ZipArchive& archive) {
  uint32_t flags = 0;
  if (o.overwrite) flags |= SfxFlag::OverwriteDefault;
  if (!o.caption.empty()) flags |= SfxFlag::UseCaption;
  if (o.automatic) flags |= SfxFlag::AutoUnzip;
  if (!o.crcFromStart) flags |= SfxFlag::CrcAfterHeaders;
  if (o.captionTitle) flags |= SfxFlag::CaptionAsTitle;
  if (o.promptButtons != "ok") flags |= SfxFlag::PromptAsks;
  if (o.promptButtons == "okcancel") flags |= SfxFlag::PromptOkCancel;
  if (o.temp) flags |= SfxFlag::ExtractToTemp;
  flags |= HiddenButtons(o);
  for (const ZipEntry& entry : archive.entries)
    if ((entry.flags & kFlagEncryptedEntry) || (o.havePassword && NeedsEncryption(entry))) flags |= SfxFlag::HasPassword;
  return flags;
}

// Lines of a text file ended the Windows way, as an edit control needs them.
std::string WithCrlfLineEnds(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// The license file as the stub shows it: UTF-8 (a byte-order mark is
// dropped) converted to the code page, CRLF line ends, within its limit.
bool LoadLicense(const BuildOptions& o, std::string* text, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(o.license, &bytes)) {
    *error = "cannot read the license " + o.license + ": " + strerror(errno);
    return false;
  }
  std::string utf8(bytes.begin(), bytes.end());
  if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.erase(0, 3);
  if (utf8.find_first_not_of(" \t\r\n") == std::string::npos || utf8.find('\0') != std::string::npos) {
    *error = "the license " + o.license + " is empty or not text";
    return false;
  }
  if (!Utf8ToCodePage(utf8, o.codePage, text)) {
    *error = "the license " + o.license + " is not UTF-8 text that code page " + std::to_string(o.codePage) +
             " can show";
    return false;
  }
  *text = WithCrlfLineEnds(*text);
  if (text->size() > kLicenseTextLimit) {
    *error = "the license " + o.license + " is " + std::to_string(text->size()) + " bytes; the limit is " +
             std::to_string(kLicenseTextLimit);
    return false;
  }
  return true;
}

// The resources the options ask for: icon and license read from their
// files, texts converted to the code page.
bool LoadResources(const BuildOptions& o, PublisherResources* r, std::string* error) {
  r->level = o.executionLevel;
  r->versionStrings = o.versionStrings;
  if (!o.icon.empty()) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(o.icon, &bytes)) {
      *error = "cannot read the icon " + o.icon + ": " + strerror(errno);
      return false;
    }
    if (!ReadIconFile(bytes, &r->icons, error)) {
      *error = o.icon + ": " + *error;
      return false;
    }
  }
  if (!o.license.empty() && !LoadLicense(o, &r->licenseText, error)) return false;
  if (!Utf8ToCodePage(o.text, o.codePage, &r->bodyText)) {
    *error = "the text \"" + o.text + "\" cannot be written in code page " + std::to_string(o.codePage);
    return false;
  }
  if (r->bodyText.size() > kBodyTextLimit) {
    *error = "--text is " + std::to_string(r->bodyText.size()) + " bytes; the limit is " + std::to_string(kBodyTextLimit);
    return false;
  }
  return true;
}

// The built-in stub of the chosen architecture, or the --stub file, which
// must be a Windows image of either architecture (and of --arch's, if given).
bool LoadStub(const BuildOptions& o, std::vector<uint8_t>* stub, std::string* error) {
  if (o.stub.empty()) {
    if (o.arch == StubArch::X64) stub->assign(EmbeddedStubX64, EmbeddedStubX64 + EmbeddedStubX64_size);
    else stub->assign(EmbeddedStubX86, EmbeddedStubX86 + EmbeddedStubX86_size);
    return true;
  }
  if (!ReadWholeFile(o.stub, stub)) {
    *error = "cannot read the stub " + o.stub + ": " + strerror(errno);
    return false;
  }
  StubArch arch;
  if (!ReadImageArch(*stub, &arch)) {
    *error = "unusable stub " + o.stub + ": not an x86 (PE32) or x64 (PE32+) Windows program";
    return false;
  }
  if (o.haveArch && arch != o.arch) {
    *error = "the stub " + o.stub + " is an " + StubArchName(arch) + " program, not " + StubArchName(o.arch);
    return false;
  }
  return true;
}

NameEncoding NamesOf(const BuildOptions& o) { return {o.ansiNames, o.codePage, o.zipCodePage, o.zipCodePageGiven}; }

FileSource SourceOf(const BuildOptions& o) {
  FileSource source;
  source.baseFolder = o.baseFolder;
  source.paths = o.paths;
  source.level = o.level;
  source.names = NamesOf(o);
  source.excludes = o.excludes;
  source.followLinks = o.followLinks;
  source.threads = o.threads;
  source.progress = !o.quiet && isatty(fileno(stderr));
  source.haveLatestDate = o.haveDate;
  source.latestDate = o.latestDate;
  return source;
}

// --password in the code page, as a Windows user will type it.
bool PasswordInCodePage(const BuildOptions& o, std::string* password, std::string* error) {
  if (Utf8ToCodePage(o.password, o.codePage, password)) return true;
  *error = "the password cannot be written in code page " + std::to_string(o.codePage);
  return false;
}

bool LoadArchive(const BuildOptions& o, ZipArchive* archive, std::string* error) {
  if (o.zip.empty()) return ZipFromFiles(SourceOf(o), archive, error);
  // An archive that needs ZIP64 is refused before it is read.
  if (!CheckZipFileFitsClassic(o.zip, error)) {
    *error = o.zip + ": " + *error;
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(o.zip, &bytes)) {
    *error = "cannot read " + o.zip + ": " + strerror(errno);
    return false;
  }
  // AES entries are decrypted with --password, as given and in the code page.
  std::vector<std::string> passwords;
  std::string inCodePage;
  if (o.havePassword) passwords.push_back(o.password);
  if (o.havePassword && Utf8ToCodePage(o.password, o.codePage, &inCodePage) && inCodePage != o.password)
    passwords.push_back(inCodePage);
  if (!ReadZip(bytes, archive, error) || !DecryptAesEntries(archive, passwords, error) ||
      !ReencodeEntries(archive, o.level, error) || !CheckEntryData(*archive, error) ||
      !RestoreWrappedNames(archive, NamesOf(o), error)) {
    *error = o.zip + ": " + *error;
    return false;
  }
  return true;
}

// A self-extractor from files and folders, written out as its archive is
// made, so that memory holds only the entries being deflated.
int BuildStreamedFromFiles(const BuildOptions& o, const std::vector<uint8_t>& stub, SfxSettings& settings) {
  std::string error;
  FileSource source = SourceOf(o);
  FileTree tree;
  if (!WalkFiles(source, &tree, &error)) return Failure(error);
  StreamedBuild build;
  build.output = o.output;
  build.deflate = DeflateWork{source.level, source.threads, source.progress};
  build.encrypt = o.havePassword;
  if (o.havePassword && !PasswordInCodePage(o, &build.password, &error)) return Failure(error);
  settings.flags = FlagsOf(o, tree.archive);
  settings.stubCrc = !o.noStubCrc;
  return WriteSelfExtractorFromTree(stub, tree, settings, build, &error) ? 0 : Failure(error);
}

}  // namespace

int BuildCommand(int argc, char** argv) {
  BuildOptions o;
  int parsed = ParseBuildOptions(argc, argv, &o);
  if (parsed >= 0) return parsed;
  if (!o.haveInfo) o.info = "Built by dravik-sfx build" + (o.given.empty() ? std::string() : " " + o.given);
  std::string error;
  std::vector<uint8_t> stub;
  ZipArchive archive;
  SfxSettings settings;
  if (!LoadStub(o, &stub, &error) || !ConvertTexts(o, &settings, &error) ||
      !LoadResources(o, &settings.resources, &error))
    return Failure(error);
  if (!o.haveInfo) FitDefaultInfo(o.codePage, &settings.info);
  if (!MakeParentFolders(o.output, &error)) return Failure(error);
  if (o.splitSet) {
    // The options' flags hold for a split set too; its parts' central
    // directory adds the password flag.
    settings.flags = FlagsOf(o, archive);
    settings.stubCrc = !o.noStubCrc;
    SpanSource source{o.zip};
    return BuildFromSplitSet(stub, source, settings, o.output, o.exeVolumes, &error) ? 0 : Failure(error);
  }
  // A spanned set and a wrapped archive are made in memory; a build from
  // files is written out as it is made.
  if (o.zip.empty() && !o.span) return BuildStreamedFromFiles(o, stub, settings);
  if (!LoadArchive(o, &archive, &error)) return Failure(error);
  if (o.havePassword) {
    std::string password;
    if (!PasswordInCodePage(o, &password, &error)) return Failure(error);
    EncryptEntries(archive, password);
  }
  settings.flags = FlagsOf(o, archive);
  settings.stubCrc = !o.noStubCrc;
  if (o.span) return BuildSpannedSet(stub, archive, settings, o.output, o.span, o.exeVolumes, &error) ? 0 : Failure(error);
  std::vector<uint8_t> image;
  if (!LayOutSelfExtractor(stub, archive, settings, &image, &error) || !WriteFileAtomically(o.output, image, &error))
    return Failure(error);
  return 0;
}
