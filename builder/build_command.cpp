// dravik-sfx build: a new self-extractor from files and folders or from an
// existing ZIP archive.
#include "builder/build_command.h"

#include "builder/file_io.h"
#include "builder/pe_image.h"
#include "builder/span_writer.h"
#include "builder/sfx_writer.h"
#include "builder/text_codec.h"
#include "builder/zip_aes.h"
#include "builder/zip_from_files.h"
#include "builder/zip_limits.h"
#include "builder/zip_reencode.h"
#include "builder/zip_reader.h"
#include "container/sfx_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The stubs built with this program, one per architecture.
extern const unsigned char EmbeddedStubX86[];
extern const unsigned EmbeddedStubX86_size;
extern const unsigned char EmbeddedStubX64[];
extern const unsigned EmbeddedStubX64_size;

namespace {

constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;

const char kBuildUsage[] =
    "usage: dravik-sfx build -o OUT.exe [options] PATH...\n"
    "       dravik-sfx build -o OUT.exe [options] --zip IN.zip\n"
    "  -C DIR                 take the PATHs relative to DIR (-C DIR . stores DIR's contents)\n"
    "  --zip IN.zip           wrap an existing archive, every entry's data unchanged but for entries\n"
    "                         in bzip2, LZMA, XZ, Zstandard or Deflate64, re-encoded at --level, and\n"
    "                         AES-encrypted ones, decrypted with --password and encrypted again\n"
    "  --folder TEXT          default destination folder\n"
    "  --prompt TEXT          start-up question; --prompt-buttons ok|yesno|okcancel (default ok)\n"
    "  --caption TEXT         custom caption; --caption-title shows it as the dialog title\n"
    "  --info TEXT            text shown by \"-info\" (default: the options given here)\n"
    "  --overwrite            \"overwrite without prompting\" starts checked\n"
    "  --auto                 unattended mode unless the command line says NOAUTO\n"
    "  --password TEXT        encrypt every entry with traditional ZIP encryption\n"
    "  --level N              deflate level, 0 stores (default 9)\n"
    "  --codepage N           Windows ANSI code page of names and texts: 1252 (default) or 932\n"
    "  --no-stub-crc          leave the stub CRC 0 (check off)\n"
    "  --crc-from-start       the stub CRC covers the image headers too\n"
    "  --span SIZE            a spanned set of volumes of at most SIZE bytes (K and M suffixes)\n"
    "  --exe-volumes          spanned volumes carry \".EXE\", the first inside the self-extractor\n"
    "  --split-set            with --zip naming the last part of a split archive (SET.zip beside\n"
    "                         SET.z01, ...): its parts become the disks of a spanned set\n"
    "  --arch x86|x64         the stub's architecture (default x86; x64 runs where 32-bit programs cannot)\n"
    "  --stub FILE            use this stub (x86 or x64) instead of the built-in one\n";

struct BuildOptions {
  std::string output, zip, stub, baseFolder;
  std::vector<std::string> paths;
  std::string folder, prompt, caption, info, password;
  bool haveInfo = false, havePassword = false;
  std::string promptButtons = "ok";
  bool captionTitle = false, overwrite = false, automatic = false;
  bool noStubCrc = false, crcFromStart = false, exeVolumes = false, splitSet = false;
  int level = 9;
  unsigned codePage = 1252;
  uint32_t span = 0;
  StubArch arch = StubArch::X86;
  bool haveArch = false;
  std::string given;  // the options as given, for the default information text
};

int Usage(const std::string& why) {
  fprintf(stderr, "dravik-sfx build: %s\n%s", why.c_str(), kBuildUsage);
  return kExitUsage;
}

int Failure(const std::string& why) {
  fprintf(stderr, "dravik-sfx build: %s\n", why.c_str());
  return kExitFailure;
}

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

// "1252" or "932": the code page; 0 for anything else.
unsigned ParseCodePage(const std::string& text) {
  char* end = nullptr;
  unsigned long value = strtoul(text.c_str(), &end, 10);
  return end != text.c_str() && !*end && IsSupportedCodePage(static_cast<unsigned>(value)) ? static_cast<unsigned>(value) : 0;
}

// Parses the arguments; returns -1 to go on, or an exit status.
int ParseBuildOptions(int argc, char** argv, BuildOptions* o) {
  for (int i = 0; i < argc; i++) {
    const int first = i;
    std::string arg = argv[i];
    auto next = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    std::string value;
    bool recorded = arg != "-o" && arg != "--stub" && arg != "--password" && arg != "--info";
    if (arg == "--help" || arg == "-h") { fputs(kBuildUsage, stdout); return 0; }
    else if (arg == "-o") { if (!next(&o->output)) return Usage("-o needs a file"); }
    else if (arg == "-C") { if (!next(&o->baseFolder)) return Usage("-C needs a folder"); }
    else if (arg == "--zip") { if (!next(&o->zip)) return Usage("--zip needs a file"); }
    else if (arg == "--stub") { if (!next(&o->stub)) return Usage("--stub needs a file"); }
    else if (arg == "--arch") {
      if (!next(&value) || !ParseStubArch(value, &o->arch)) return Usage("--arch must be x86 or x64");
      o->haveArch = true;
    }
    else if (arg == "--folder") { if (!next(&o->folder)) return Usage("--folder needs a text"); }
    else if (arg == "--prompt") { if (!next(&o->prompt)) return Usage("--prompt needs a text"); }
    else if (arg == "--caption") { if (!next(&o->caption)) return Usage("--caption needs a text"); }
    else if (arg == "--info") { if (!next(&o->info)) return Usage("--info needs a text"); o->haveInfo = true; }
    else if (arg == "--password") {
      if (!next(&o->password) || o->password.empty()) return Usage("--password needs a text");
      o->havePassword = true;
    }
    else if (arg == "--prompt-buttons") {
      if (!next(&o->promptButtons)) return Usage("--prompt-buttons needs ok, yesno or okcancel");
      if (o->promptButtons != "ok" && o->promptButtons != "yesno" && o->promptButtons != "okcancel")
        return Usage("--prompt-buttons takes ok, yesno or okcancel");
    }
    else if (arg == "--level") {
      if (!next(&value) || value.size() != 1 || value[0] < '0' || value[0] > '9') return Usage("--level takes 0 to 9");
      o->level = value[0] - '0';
    }
    else if (arg == "--codepage") {
      if (!next(&value)) return Usage("--codepage needs a number");
      if (!(o->codePage = ParseCodePage(value))) return Usage("--codepage takes 1252 or 932");
    }
    else if (arg == "--span") {
      if (!next(&value) || !(o->span = ParseSize(value))) return Usage("--span needs a size in bytes");
    }
    else if (arg == "--caption-title") o->captionTitle = true;
    else if (arg == "--overwrite") o->overwrite = true;
    else if (arg == "--auto") o->automatic = true;
    else if (arg == "--no-stub-crc") o->noStubCrc = true;
    else if (arg == "--crc-from-start") o->crcFromStart = true;
    else if (arg == "--exe-volumes") o->exeVolumes = true;
    else if (arg == "--split-set") o->splitSet = true;
    else if (!arg.empty() && arg[0] == '-' && arg != "-") return Usage("unknown option " + arg);
    else { o->paths.push_back(arg); recorded = false; }
    if (recorded) RecordGiven(argv + first, i + 1 - first, &o->given);
  }
  if (o->output.empty()) return Usage("-o OUT.exe is required");
  if (o->zip.empty() == o->paths.empty()) return Usage("give either PATHs or --zip IN.zip");
  if ((o->exeVolumes || o->splitSet) && !o->span && !o->splitSet) return Usage("--exe-volumes needs --span");
  if (o->splitSet && o->zip.empty()) return Usage("--split-set needs --zip");
  return -1;
}

// The texts in the target code page, checked against their limits later.
bool ConvertTexts(const BuildOptions& o, SfxSettings* s, std::string* error) {
  const std::pair<const std::string*, std::string*> texts[] = {
      {&o.folder, &s->folder}, {&o.prompt, &s->prompt}, {&o.caption, &s->caption}, {&o.info, &s->info}};
  for (const auto& [from, to] : texts)
    if (!Utf8ToCodePage(*from, o.codePage, to)) {
      *error = "the text \"" + *from + "\" cannot be written in code page " + std::to_string(o.codePage);
      return false;
    }
  return true;
}

// The default information text is ours, not the user's: rather than refuse
// it, cut it to its limit, and not inside a double-byte character.
void FitDefaultInfo(unsigned codePage, std::string* info) {
  if (info->size() <= kInfoTextLimit) return;
  size_t kept = 0;
  while (kept < info->size()) {
    size_t step = codePage == 932 && IsDoubleByteLead(static_cast<uint8_t>((*info)[kept])) ? 2 : 1;
    if (kept + step > kInfoTextLimit) break;
    kept += step;
  }
  info->resize(kept);
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
  for (const ZipEntry& entry : archive.entries)
    if (entry.flags & kFlagEncryptedEntry) flags |= SfxFlag::HasPassword;
  return flags;
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
    *error = "cannot read the stub " + o.stub;
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

bool LoadArchive(const BuildOptions& o, ZipArchive* archive, std::string* error) {
  if (o.zip.empty()) {
    FileSource source{o.baseFolder, o.paths, o.level, o.codePage};
    return ZipFromFiles(source, archive, error);
  }
  // An archive that needs ZIP64 is refused before it is read.
  if (!CheckZipFileFitsClassic(o.zip, error)) {
    *error = o.zip + ": " + *error;
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(o.zip, &bytes)) {
    *error = "cannot read " + o.zip;
    return false;
  }
  // AES entries are decrypted with --password, as given and in the code page.
  std::vector<std::string> passwords;
  std::string inCodePage;
  if (o.havePassword) passwords.push_back(o.password);
  if (o.havePassword && Utf8ToCodePage(o.password, o.codePage, &inCodePage) && inCodePage != o.password)
    passwords.push_back(inCodePage);
  if (!ReadZip(bytes, archive, error) || !DecryptAesEntries(archive, passwords, error) ||
      !ReencodeEntries(archive, o.level, error) || !CheckEntryData(*archive, error)) {
    *error = o.zip + ": " + *error;
    return false;
  }
  return true;
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
  if (!LoadStub(o, &stub, &error) || !ConvertTexts(o, &settings, &error)) return Failure(error);
  if (!o.haveInfo) FitDefaultInfo(o.codePage, &settings.info);
  if (o.splitSet) {
    SpanSource source{o.zip};
    return BuildFromSplitSet(stub, source, settings, o.output, o.exeVolumes, &error) ? 0 : Failure(error);
  }
  if (!LoadArchive(o, &archive, &error)) return Failure(error);
  if (o.havePassword) {
    std::string password;
    if (!Utf8ToCodePage(o.password, o.codePage, &password))
      return Failure("the password cannot be written in code page " + std::to_string(o.codePage));
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
