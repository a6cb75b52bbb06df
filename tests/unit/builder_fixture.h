// Test fixtures for dravik-sfx: running the built program and the external
// tools used as controls, small source trees with known times, and a reader
// of the PE and record fields written apart from the builder's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The outcome of one command: exit status and what it printed.
struct CommandResult {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line; stdout and stderr are captured apart.
CommandResult RunShell(const std::string& commandLine);

// Runs dravik-sfx with `args` (each quoted for the shell); `environment` is
// prefixed as "NAME=value ..." assignments.
CommandResult RunSfx(const std::vector<std::string>& args, const std::string& environment = "");

// The path of an external tool; the test fails (not skips) when it is missing.
std::string RequireTool(const std::string& name);

std::string ShellQuote(const std::string& word);

// The number of lines of `text` (a last line without its newline counts).
int LineCount(const std::string& text);

// A source tree under `root`: a.txt, empty.dat (0 bytes), sub/b.txt
// (compressible), sub/c.bin (random, incompressible) and the empty folder
// empty/, every file and folder dated kTreeTime.
void MakeSourceTree(const std::string& root);
constexpr int64_t kTreeTime = 1623760496;  // 2021-06-15 12:34:56 UTC

void SetModificationTime(const std::string& path, int64_t unixTime);

// The built stub of an architecture ("x86", "x64"), as its cross build
// leaves it.
std::vector<uint8_t> BuiltStub(const std::string& arch = "x86");
constexpr const char* kStubArches[] = {"x86", "x64"};

// Fields of a PE32 or PE32+ image and the self-extractor's record, read with no help
// from the builder's code.
struct SectionHeader {
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawAt, characteristics;
};
struct PeView {
  uint32_t lfanew, optionalAt, entryPoint, fileAlignment, sectionAlignment, sizeOfImage, sizeOfHeaders;
  uint32_t sizeOfInitializedData, checkSum;
  std::vector<SectionHeader> sections;
};
PeView ReadPeView(const std::vector<uint8_t>& image);

// File offset of the record's marker (K A V 01 s f x 02), or -1.
long FindRecord(const std::vector<uint8_t>& image);

// The standard PE image checksum: 16-bit word sum with carries folded, the
// CheckSum field counted as zero, plus the file length.
uint32_t ReferencePeChecksum(const std::vector<uint8_t>& image, uint32_t checkSumAt);

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at);
uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at);
