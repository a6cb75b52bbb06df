// libFuzzer target of the whole engine: every input is an untrusted
// self-extractor image, run as the stub runs it (start-up checks, record
// walk, decryption, inflate, output writer) on the host platform with its
// in-memory file system, so that a run costs microseconds and touches no
// disk. The image is the module file, read from memory.
//
// The run: destination C:\dest (drive C: exists), the password "fuzz",
// the overwrite question answered Yes, No, Cancel in turn, disk prompts
// refused, every other box answered with its first button. An image whose
// size is odd runs with the double-byte code page 932, so that trail bytes
// of value 0x5C meet the path code.
//
// After every input, a containment audit over every file and folder the
// engine made, independent of the engine's own checks:
//   - resolved as Windows resolves paths, it lies inside the destination
//     (the destination itself and the folders above it may be made too);
//   - every component of its name below the destination passes the Windows
//     name rules: no "..", no colon (drive or stream), no trailing dot or
//     blank, no device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9,
//     LPT1-9 and their superscript digits, alone or with an extension).
// A breach aborts, which libFuzzer reports as a finding; so do more blocks
// left held than the stub's fixed buffers account for.
//
// Built with clang++ -fsanitize=fuzzer,address,undefined on the stub's own
// sources and the host platform layer (tests/unit/CMakeLists.txt); seeds
// from fuzz_corpus/make_sfx_corpus.py.
#include "archive/record_walker.h"
#include "base/sfx_state.h"
#include "platform/host/host_control.h"
#include "startup/start_sequence.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kDestination[] = "C:\\dest";
// The blocks a run may leave held when it ends early: the stub's buffers
// (texts, message table, I/O blocks, start-up question, the CRC copy, the
// dialog template) and the Huffman tables of one block. Anything beyond
// grows with the input: a leak the leak checker cannot see, since the host
// platform holds every block it hands out.
constexpr size_t kMostBlocksHeld = 16;
char Password[] = "fuzz";
constexpr int kOverwriteAnswers[] = {IDYES, IDNO, IDCANCEL};

// ---- the run ------------------------------------------------------------------

int AnswerBox(const HostMessageBox& box, int* overwriteQuestions) {
  switch (box.type & 0xF) {
    case MB_YESNOCANCEL: return kOverwriteAnswers[(*overwriteQuestions)++ % 3];
    case MB_ABORTRETRYIGNORE: return IDABORT;  // a disk label question
    case MB_OKCANCEL: return (box.type & MB_TASKMODAL) ? IDOK : IDCANCEL;  // start-up question, disk prompt
    case MB_YESNO: return IDYES;
    default: return IDOK;
  }
}

UINT RunImage(const uint8_t* data, size_t size) {
  HostReset();
  HostSetRecording(false);
  HostSetCodePage(size % 2 ? 932 : 1252);
  HostSetDriveType('C', DRIVE_FIXED);
  HostSetMemoryFileSystem(true);
  HostSetModuleImage(data, size);
  HostSetModulePath("C:\\sfx\\setup.exe");
  int overwriteQuestions = 0;
  HostSetMessageBoxHandler([&](const HostMessageBox& box) { return AnswerBox(box, &overwriteQuestions); });
  HostSetMainDialogHandler([] {
    snprintf(Sfx.TargetFolder, sizeof Sfx.TargetFolder, "%s", kDestination);
    Sfx.Password = Password;
    RunExtraction();
  });
  Sfx = SfxState{};
  char tail[] = "";
  return StartSelfExtractor(nullptr, tail);
}

// ---- the audit -------------------------------------------------------------------

[[noreturn]] void Breach(const HostMemoryFile& file, const char* why) {
  fprintf(stderr, "containment audit: %s \"%s\" (resolved \"%s\"): %s\n", file.folder ? "folder" : "file",
          file.path.c_str(), file.resolved.c_str(), why);
  abort();
}

bool IsLeadByte(unsigned char c, bool doubleByte) {
  return doubleByte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// The device names Windows opens whatever the folder: the stem before the
// first dot, trailing blanks dropped.
bool IsDeviceName(const std::string& component) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : kDevices)
    if (SameIgnoringCase(stem, device)) return true;
  if (stem.size() != 4) return false;
  unsigned char digit = static_cast<unsigned char>(stem[3]);
  bool deviceDigit = (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  return deviceDigit && (SameIgnoringCase(stem.substr(0, 3), "COM") || SameIgnoringCase(stem.substr(0, 3), "LPT"));
}

// Why Windows would refuse the component, or null.
const char* BrokenRule(const std::string& component) {
  if (component == "..") return "a parent component";
  if (component.find(':') != std::string::npos) return "a colon (drive or stream)";
  if (component != "." && !component.empty() && (component.back() == '.' || component.back() == ' '))
    return "a component ending in a dot or a blank";
  if (IsDeviceName(component)) return "a device name";
  return nullptr;
}

// Checks every component of `relative` (a trail byte 0x5C separates
// nothing in code page 932).
void AuditName(const HostMemoryFile& file, const std::string& relative, bool doubleByte) {
  std::string component;
  for (size_t i = 0; i <= relative.size(); i++) {
    unsigned char c = i < relative.size() ? static_cast<unsigned char>(relative[i]) : 0;
    if (IsLeadByte(c, doubleByte) && i + 1 < relative.size()) {
      component += relative.substr(i++, 2);
      continue;
    }
    if (c && c != '\\' && c != '/') {
      component += static_cast<char>(c);
      continue;
    }
    // The rules look at every byte, trail bytes included: a colon, dot or
    // blank behind a lead byte counts as itself, the strict reading (no
    // code page has trail bytes below 0x40, and converters differ on them).
    if (const char* why = BrokenRule(component)) Breach(file, why);
    component.clear();
  }
}

bool IsAtOrAbove(const std::string& resolved, const std::string& destination) {
  return resolved == destination || destination.rfind(resolved + "\\", 0) == 0;
}

void AuditFiles(bool doubleByte) {
  static const std::string destination = HostResolvePath(kDestination);
  const std::string prefix = std::string(kDestination) + "\\";
  for (const HostMemoryFile& file : HostMemoryFiles()) {
    if (file.folder && IsAtOrAbove(file.resolved, destination)) continue;  // the destination's own folders
    if (file.resolved.rfind(destination + "\\", 0) != 0) Breach(file, "outside the destination");
    if (!SameIgnoringCase(file.path.substr(0, prefix.size()), prefix))
      Breach(file, "made under a path that does not start with the destination");
    AuditName(file, file.path.substr(prefix.size()), doubleByte);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UINT exitCode = RunImage(data, size);
  if (exitCode != kExitSuccess && exitCode != kExitCancelled && exitCode != kExitFailure) abort();  // no such exit code
  AuditFiles(size % 2 != 0);
  if (HostBlocksHeld() > kMostBlocksHeld) {
    fprintf(stderr, "%zu blocks held after the run\n", HostBlocksHeld());
    abort();
  }
  HostReleaseBlocks();  // what an early end leaves behind, as the process's end would free it
  return 0;
}
