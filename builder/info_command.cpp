// dravik-sfx info: what a self-extractor holds. By default a short summary:
// the stub's architecture, the options it was built with where they differ
// from the defaults, its texts, the archive's counts and sizes and its first
// and last few entries. --entries lists every entry; --json prints
// everything, the configuration record's reserved fields included, for
// scripts. The record is the one the stub reads; a file whose local records,
// walked as the stub walks them, differ from its central directory is
// reported as damaged.
#include "builder/info_command.h"

#include "builder/archive_walk.h"
#include "builder/cli.h"
#include "builder/file_io.h"
#include "builder/pe_image.h"
#include "builder/publisher_resources.h"
#include "builder/text_codec.h"
#include "builder/zip_reencode.h"
#include "builder/zip_reader.h"
#include "container/sfx_config.h"
#include "platform/host/sfx_record_locator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Entries the summary shows at each end of a longer archive.
constexpr size_t kSummaryEntries = 5;
// Names are shown in UTF-8; those in no UTF-8 are read in this code page.
constexpr unsigned kShownCodePage = 1252;

enum class InfoMode { Summary, Entries, Json };

// The record's fields by name, in the record's order.
struct RecordField {
  const char* name;
  unsigned offset;
  unsigned width;  // bytes: 2 or 4
};
constexpr RecordField kRecordFields[] = {
    {"StubCrc", SfxConfigOffset::StubCrc, 4},
    {"ArchiveOffset", SfxConfigOffset::ArchiveOffset, 4},
    {"ConfigBlockOffset", SfxConfigOffset::ConfigBlockOffset, 4},
    {"EndRecordOffset", SfxConfigOffset::EndRecordOffset, 4},
    {"TotalSize", SfxConfigOffset::TotalSize, 4},
    {"SfxFlags", SfxConfigOffset::SfxFlags, 4},
    {"Reserved32a", SfxConfigOffset::Reserved32a, 4},
    {"Reserved32b", SfxConfigOffset::Reserved32b, 4},
    {"Reserved16a", SfxConfigOffset::Reserved16a, 2},
    {"Finalised", SfxConfigOffset::Finalised, 2},
    {"Reserved32c", SfxConfigOffset::Reserved32c, 4},
    {"Reserved32d", SfxConfigOffset::Reserved32d, 4},
    {"Reserved16b", SfxConfigOffset::Reserved16b, 2},
    {"EntryPointRva", SfxConfigOffset::EntryPointRva, 4},
};

constexpr std::pair<uint32_t, const char*> kFlagNames[] = {
    {SfxFlag::OverwriteDefault, "OverwriteDefault"}, {SfxFlag::UseCaption, "UseCaption"},
    {SfxFlag::HasPassword, "HasPassword"},           {SfxFlag::AutoUnzip, "AutoUnzip"},
    {SfxFlag::CrcAfterHeaders, "CrcAfterHeaders"},   {SfxFlag::SpannedArchive, "SpannedArchive"},
    {SfxFlag::ExeFirstVolume, "ExeFirstVolume"},     {SfxFlag::CaptionAsTitle, "CaptionAsTitle"},
    {SfxFlag::PromptAsks, "PromptAsks"},             {SfxFlag::PromptOkCancel, "PromptOkCancel"},
    {SfxFlag::ExtractToTemp, "ExtractToTemp"},       {SfxFlag::HideRunArchiver, "HideRunArchiver"},
    {SfxFlag::HideAbout, "HideAbout"},               {SfxFlag::HideHelp, "HideHelp"}};

// The ConfigBlock's texts; a setup's block has a sixth, the command to run.
constexpr unsigned kTextCount = 6;
const char* const kTextNames[kTextCount] = {"Folder", "Credit", "StartupPrompt", "Caption", "InfoText", "RunCommand"};

// Everything info shows, read from the file once.
struct SfxView {
  std::string file;
  size_t fileSize = 0;
  std::string arch;
  size_t recordAt = 0;
  uint32_t fields[sizeof kRecordFields / sizeof kRecordFields[0]] = {};
  std::string texts[kTextCount];
  bool spanned = false;
  bool archiveRead = false;
  std::string archiveProblem;
  ZipArchive archive;
  bool resourcesRead = false;
  std::string resourcesProblem;
  PublisherView resources;

  uint32_t Field(const char* name) const {
    for (size_t i = 0; i < sizeof kRecordFields / sizeof kRecordFields[0]; i++)
      if (!strcmp(kRecordFields[i].name, name)) return fields[i];
    return 0;
  }
};

void ReadTexts(const std::vector<uint8_t>& b, uint32_t from, uint32_t to, std::string (&texts)[kTextCount]) {
  size_t at = from;
  for (std::string& text : texts) {
    while (at < to && at < b.size() && b[at]) text += static_cast<char>(b[at++]);
    at++;
  }
}

SfxView ReadView(const std::string& file, const std::vector<uint8_t>& b, size_t recordAt) {
  SfxView v;
  v.file = file;
  v.fileSize = b.size();
  StubArch arch;
  v.arch = !ReadImageArch(b, &arch) ? "not a Windows image we know"
           : arch == StubArch::X64  ? "x64 (PE32+, x86-64)"
                                    : "x86 (PE32, i386)";
  v.recordAt = recordAt;
  for (size_t i = 0; i < sizeof kRecordFields / sizeof kRecordFields[0]; i++) {
    const uint8_t* at = &b[recordAt + kRecordFields[i].offset];
    v.fields[i] = kRecordFields[i].width == 4 ? GetLe32(at) : GetLe16(at);
  }
  uint32_t configAt = v.Field("ConfigBlockOffset"), archiveAt = v.Field("ArchiveOffset");
  if (configAt && configAt <= archiveAt && archiveAt <= b.size()) ReadTexts(b, configAt, archiveAt, v.texts);
  v.spanned = (v.Field("SfxFlags") & SfxFlag::SpannedArchive) != 0;
  if (!v.spanned) v.archiveRead = ReadZip(b, &v.archive, &v.archiveProblem);
  v.resourcesRead = ReadPublisherView(b, &v.resources, &v.resourcesProblem);
  return v;
}

// The builder options that give the record's settings, where they differ
// from the defaults.
std::string OptionsOf(const SfxView& v) {
  uint32_t flags = v.Field("SfxFlags");
  std::string options;
  auto add = [&](const std::string& option) { options += (options.empty() ? "" : " ") + option; };
  if (flags & SfxFlag::OverwriteDefault) add("--overwrite");
  if (flags & SfxFlag::AutoUnzip) add("--auto");
  if (flags & SfxFlag::CaptionAsTitle) add("--caption-title");
  if (flags & SfxFlag::PromptAsks) add(flags & SfxFlag::PromptOkCancel ? "--prompt-buttons okcancel" : "--prompt-buttons yesno");
  if (flags & SfxFlag::HasPassword) add("--password");
  if (flags & (SfxFlag::HideRunArchiver | SfxFlag::HideAbout | SfxFlag::HideHelp)) {
    std::string shown;
    for (const auto& [bit, word] : {std::pair{SfxFlag::HideRunArchiver, "run"}, std::pair{SfxFlag::HideAbout, "about"},
                                    std::pair{SfxFlag::HideHelp, "help"}})
      if (!(flags & bit)) shown += (shown.empty() ? "" : ",") + std::string(word);
    add("--buttons " + (shown.empty() ? std::string("none") : shown));
  }
  if (flags & SfxFlag::SpannedArchive) add("--span");
  if (flags & SfxFlag::ExeFirstVolume) add("--exe-volumes");
  if (flags & SfxFlag::ExtractToTemp) add("--temp");
  if (!v.Field("StubCrc")) add("--no-stub-crc");
  else if (!(flags & SfxFlag::CrcAfterHeaders)) add("--crc-from-start");
  return options.empty() ? "(the defaults)" : options;
}

// ---- text output ----------------------------------------------------------------

// A text in double quotes, its control characters escaped, in UTF-8.
std::string Quoted(const std::string& raw) {
  std::string text = ShownAsUtf8(raw, kShownCodePage), out = "\"";
  for (unsigned char c : text) {
    char escaped[8];
    if (c == '\n') out += "\\n";
    else if (c == '"' || c == '\\') out += std::string("\\") + static_cast<char>(c);
    else if (c < 0x20) snprintf(escaped, sizeof escaped, "\\x%02X", c), out += escaped;
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

// How the self-extractor reads an entry's name: in UTF-8 when flag bit 11
// is set, else in the system's ANSI code page (as kShownCodePage here).
enum class NameKind { Ascii, Utf8, CodePage };

const char* const kNameKindWords[] = {"ascii", "utf-8", "ansi"};  // by NameKind

NameKind NameKindOf(const ZipEntry& e) {
  if (e.flags & kFlagUtf8Name) return NameKind::Utf8;
  return IsPlainAscii(e.name) ? NameKind::Ascii : NameKind::CodePage;
}

// An entry's name in UTF-8 as the self-extractor reads it.
std::string EntryName(const ZipEntry& e) {
  return NameKindOf(e) == NameKind::CodePage ? ReadInCodePage(e.name, kShownCodePage) : ShownAsUtf8(e.name, kShownCodePage);
}

const char* MethodName(const ZipEntry& e) { return e.method == 8 ? "deflated" : e.method == 0 ? "stored" : "other"; }

// One entry's line; an entry the builder re-encoded says what it was.
void PrintEntry(const ZipEntry& e) {
  uint16_t original = ReencodedFrom(e);
  std::string notes = (e.flags & kFlagEncryptedEntry) ? "  (encrypted)" : "";
  if (original) notes += "  (re-encoded from " + MethodInWords(original) + ")";
  if (NameKindOf(e) == NameKind::Utf8) notes += "  (UTF-8 name)";
  if (NameKindOf(e) == NameKind::CodePage) notes += "  (name in the ANSI code page, shown as 1252)";
  printf("  %-8s %10u %10zu %08x  %s%s\n", MethodName(e), e.uncompressedSize, e.data.size(), e.crc32,
         EntryName(e).c_str(), notes.c_str());
}

void PrintArchive(const SfxView& v, bool everyEntry) {
  if (v.spanned) {
    printf("Archive             a spanned set: its volumes are on the disks\n");
    return;
  }
  if (!v.archiveRead) {
    printf("Archive             unreadable: %s\n", v.archiveProblem.c_str());
    return;
  }
  const std::vector<ZipEntry>& entries = v.archive.entries;
  size_t folders = 0;
  uint64_t size = 0, packed = 0;
  for (const ZipEntry& e : entries) {
    folders += !e.name.empty() && e.name.back() == '/';
    size += e.uncompressedSize;
    packed += e.data.size();
  }
  printf("Archive             %zu entries (%zu files, %zu folders), %llu bytes, %llu packed\n", entries.size(),
         entries.size() - folders, folders, static_cast<unsigned long long>(size),
         static_cast<unsigned long long>(packed));
  printf("  %-8s %10s %10s %-8s  %s\n", "method", "size", "packed", "crc-32", "name");
  bool shortened = !everyEntry && entries.size() > 2 * kSummaryEntries;
  for (size_t i = 0; i < entries.size(); i++) {
    if (shortened && i == kSummaryEntries) {
      printf("  ... %zu more (dravik-sfx info --entries lists them all)\n", entries.size() - 2 * kSummaryEntries);
      i = entries.size() - kSummaryEntries;
    }
    PrintEntry(entries[i]);
  }
}

std::string IconList(const PublisherView& r) {
  std::string list;
  for (const IconImage& image : r.icons) list += (list.empty() ? "" : ", ") + DescribeIconImage(image);
  return list;
}

// What Explorer's properties show: the icon, the version information, and
// the execution level the manifest asks for; then the publisher's texts.
void PrintResources(const SfxView& v) {
  if (!v.resourcesRead) {
    printf("Resources           damaged: %s\n", v.resourcesProblem.c_str());
    return;
  }
  const PublisherView& r = v.resources;
  printf("Execution level     %s\n", r.executionLevel.empty() ? "(none requested: Windows decides)" : r.executionLevel.c_str());
  printf("Icon                %s\n", r.icons.empty() ? "(none)" : IconList(r).c_str());
  if (r.fileVersion.empty()) {
    printf("Version information (none)\n");
  } else {
    printf("Version information file %s, product %s\n", r.fileVersion.c_str(), r.productVersion.c_str());
    for (const auto& [key, value] : r.versionStrings) printf("  %-17s %s\n", key.c_str(), Quoted(value).c_str());
  }
  if (!r.bodyText.empty()) printf("%-19s %s\n", "Text", Quoted(r.bodyText).c_str());
  if (!r.licenseText.empty()) printf("%-19s %zu bytes\n", "License", r.licenseText.size());
}

void PrintText(const SfxView& v) {
  printf("File                %s (%zu bytes)\n", v.file.c_str(), v.fileSize);
  printf("Stub                %s\n", v.arch.c_str());
  printf("Options             %s\n", OptionsOf(v).c_str());
  for (int i : {0, 2, 3, 4, 5})
    if (!v.texts[i].empty()) printf("%-19s %s\n", kTextNames[i], Quoted(v.texts[i]).c_str());
  PrintResources(v);
}

// ---- JSON output ----------------------------------------------------------------

std::string Json(const std::string& raw) {
  std::string out = "\"";
  for (unsigned char c : ShownAsUtf8(raw, kShownCodePage)) {
    char escaped[8];
    if (c == '"' || c == '\\') out += std::string("\\") + static_cast<char>(c);
    else if (c < 0x20) snprintf(escaped, sizeof escaped, "\\u%04x", c), out += escaped;
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

void PrintJsonResources(const SfxView& v) {
  const PublisherView& r = v.resources;
  printf("  \"resources\": {\"problem\": %s, \"execution_level\": %s, \"icons\": [",
         Json(v.resourcesRead ? "" : v.resourcesProblem).c_str(), Json(r.executionLevel).c_str());
  for (size_t i = 0; i < r.icons.size(); i++)
    printf("%s{\"width\": %u, \"height\": %u, \"bits\": %u, \"png\": %s, \"bytes\": %zu}", i ? ", " : "",
           r.icons[i].width, r.icons[i].height, r.icons[i].bitCount, r.icons[i].png ? "true" : "false",
           r.icons[i].bytes.size());
  printf("],\n    \"file_version\": %s, \"product_version\": %s, \"version_strings\": {",
         Json(r.fileVersion).c_str(), Json(r.productVersion).c_str());
  for (size_t i = 0; i < r.versionStrings.size(); i++)
    printf("%s%s: %s", i ? ", " : "", Json(r.versionStrings[i].first).c_str(), Json(r.versionStrings[i].second).c_str());
  printf("},\n    \"text\": %s, \"license\": %s},\n", Json(r.bodyText).c_str(), Json(r.licenseText).c_str());
}

void PrintJson(const SfxView& v) {
  printf("{\n  \"file\": %s,\n  \"size\": %zu,\n  \"stub\": %s,\n", Json(v.file).c_str(), v.fileSize,
         Json(v.arch).c_str());
  printf("  \"record\": {\"offset\": %zu", v.recordAt);
  for (size_t i = 0; i < sizeof kRecordFields / sizeof kRecordFields[0]; i++)
    printf(", \"%s\": %u", kRecordFields[i].name, v.fields[i]);
  printf("},\n  \"flags\": [");
  bool first = true;
  for (const auto& [bit, name] : kFlagNames)
    if (v.Field("SfxFlags") & bit) printf("%s\"%s\"", first ? "" : ", ", name), first = false;
  printf("],\n  \"options\": %s,\n  \"texts\": {", Json(OptionsOf(v)).c_str());
  for (unsigned i = 0; i < kTextCount; i++)
    printf("%s\"%s\": %s", i ? ", " : "", kTextNames[i], Json(v.texts[i]).c_str());
  printf("},\n");
  PrintJsonResources(v);
  printf("  \"spanned\": %s,\n", v.spanned ? "true" : "false");
  if (!v.archiveRead) {
    printf("  \"archive_problem\": %s,\n  \"entries\": []\n}\n", Json(v.spanned ? "" : v.archiveProblem).c_str());
    return;
  }
  printf("  \"entries\": [");
  for (size_t i = 0; i < v.archive.entries.size(); i++) {
    const ZipEntry& e = v.archive.entries[i];
    printf("%s\n    {\"name\": %s, \"method\": %u, \"size\": %u, \"packed\": %zu, \"crc32\": %u, \"encrypted\": %s, "
           "\"dos_date\": %u, \"dos_time\": %u, \"reencoded_from\": %u, \"name_encoding\": \"%s\"}",
           i ? "," : "", Json(EntryName(e)).c_str(), e.method, e.uncompressedSize, e.data.size(), e.crc32,
           (e.flags & kFlagEncryptedEntry) ? "true" : "false", e.modDate, e.modTime, ReencodedFrom(e),
           kNameKindWords[static_cast<int>(NameKindOf(e))]);
  }
  printf("\n  ]\n}\n");
}

}  // namespace

int InfoCommand(int argc, char** argv) {
  const CliCommand& command = *FindCommand("info");
  InfoMode mode = InfoMode::Summary;
  std::string file;
  for (int i = 0; i < argc; i++) {
    std::string arg = argv[i];
    if (arg.empty() || arg[0] != '-') {
      if (!file.empty()) return UsageError("info", "takes one FILE.exe; '" + arg + "' is another");
      file = arg;
      continue;
    }
    const CliOption* option = FindOption(command, arg);
    if (!option) return UsageError("info", "unknown option " + arg);
    if (!strcmp(option->name, "--help")) {
      fputs(UsageText(command).c_str(), stdout);
      return 0;
    }
    mode = !strcmp(option->name, "--json") ? InfoMode::Json : InfoMode::Entries;
  }
  if (file.empty()) return UsageError("info", "FILE.exe is required");
  std::vector<uint8_t> b;
  if (!ReadWholeFile(file, &b)) return FailureLine("info", "cannot read " + file + ": " + strerror(errno));
  long at = LocateSfxRecord(b.data(), b.size());
  if (at < 0) return FailureLine("info", file + " is not a self-extractor (no configuration record)");
  SfxView view = ReadView(file, b, static_cast<size_t>(at));
  if (mode == InfoMode::Json) {
    PrintJson(view);
  } else {
    PrintText(view);
    PrintArchive(view, mode == InfoMode::Entries);
  }
  std::string difference;
  if (!view.spanned && !CompareWalkWithDirectory(b, view.Field("ArchiveOffset"), &difference))
    return FailureLine("info", file + " is damaged: " + difference);
  return 0;
}
