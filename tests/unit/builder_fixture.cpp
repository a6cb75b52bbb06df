// Test fixtures for dravik-sfx (see builder_fixture.h).
#include "builder_fixture.h"

#include "stub_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <random>

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult RunShell(const std::string& commandLine) {
  std::string folder = MakeTempFolder();
  std::string out = folder + "/stdout", err = folder + "/stderr";
  int raw = system(("(" + commandLine + ") >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null").c_str());
  CommandResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::vector<uint8_t> bytes = ReadFile(out);
  result.out.assign(bytes.begin(), bytes.end());
  bytes = ReadFile(err);
  result.err.assign(bytes.begin(), bytes.end());
  return result;
}

CommandResult RunSfx(const std::vector<std::string>& args, const std::string& environment) {
  std::string line = environment + (environment.empty() ? "" : " ") + ShellQuote(DRAVIK_SFX_PROGRAM);
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return RunShell(line);
}

std::string RequireTool(const std::string& name) {
  CommandResult found = RunShell("command -v " + ShellQuote(name));
  if (found.status != 0 || found.out.empty()) {
    ADD_FAILURE() << name << " is missing; scripts/setup installs it";
    return name;
  }
  return found.out.substr(0, found.out.find('\n'));
}

int LineCount(const std::string& text) {
  int lines = 0;
  for (size_t at = 0; at < text.size(); lines++) {
    size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

void SetModificationTime(const std::string& path, int64_t unixTime) {
  struct timeval times[2] = {{static_cast<time_t>(unixTime), 0}, {static_cast<time_t>(unixTime), 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0) << path;
}

void MakeSourceTree(const std::string& root) {
  mkdir(root.c_str(), 0755);
  mkdir((root + "/sub").c_str(), 0755);
  mkdir((root + "/empty").c_str(), 0755);
  std::string text = "hello, self-extractor\n";
  WriteFile(root + "/a.txt", std::vector<uint8_t>(text.begin(), text.end()));
  WriteFile(root + "/empty.dat", {});
  std::string lines;
  for (int i = 0; i < 4000; i++) lines += "line " + std::to_string(i) + " of a compressible file\n";
  WriteFile(root + "/sub/b.txt", std::vector<uint8_t>(lines.begin(), lines.end()));
  std::mt19937 random(7);
  std::vector<uint8_t> noise(5000);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  WriteFile(root + "/sub/c.bin", noise);
  for (const char* path : {"/a.txt", "/empty.dat", "/sub/b.txt", "/sub/c.bin", "/sub", "/empty", ""})
    SetModificationTime(root + path, kTreeTime);
}

std::vector<uint8_t> BuiltStub(const std::string& arch) {
  return ReadFile(arch == "x64" ? DRAVIK_STUB_FILE_X64 : DRAVIK_STUB_FILE);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

PeView ReadPeView(const std::vector<uint8_t>& b) {
  PeView v{};
  v.lfanew = Le32(b, 60);
  uint32_t fileHeaderAt = v.lfanew + 4;
  v.optionalAt = fileHeaderAt + 20;
  v.entryPoint = Le32(b, v.optionalAt + 16);
  v.sectionAlignment = Le32(b, v.optionalAt + 32);
  v.fileAlignment = Le32(b, v.optionalAt + 36);
  v.sizeOfInitializedData = Le32(b, v.optionalAt + 8);
  v.sizeOfImage = Le32(b, v.optionalAt + 56);
  v.sizeOfHeaders = Le32(b, v.optionalAt + 60);
  v.checkSum = Le32(b, v.optionalAt + 64);
  uint16_t count = Le16(b, fileHeaderAt + 2);
  uint32_t tableAt = v.optionalAt + Le16(b, fileHeaderAt + 16);
  for (uint16_t i = 0; i < count; i++) {
    size_t at = tableAt + 40u * i;
    SectionHeader s;
    s.name.assign(reinterpret_cast<const char*>(&b[at]), strnlen(reinterpret_cast<const char*>(&b[at]), 8));
    s.virtualSize = Le32(b, at + 8);
    s.virtualAddress = Le32(b, at + 12);
    s.rawSize = Le32(b, at + 16);
    s.rawAt = Le32(b, at + 20);
    s.characteristics = Le32(b, at + 36);
    v.sections.push_back(s);
  }
  return v;
}

long FindRecord(const std::vector<uint8_t>& b) {
  static const uint8_t kMarker[8] = {'K', 'A', 'V', 1, 's', 'f', 'x', 2};
  for (size_t at = 0; at + 8 <= b.size(); at++)
    if (!memcmp(&b[at], kMarker, 8)) return static_cast<long>(at);
  return -1;
}

uint32_t ReferencePeChecksum(const std::vector<uint8_t>& image, uint32_t checkSumAt) {
  uint64_t sum = 0;
  for (size_t at = 0; at < image.size(); at += 2) {
    uint32_t word = image[at] | (at + 1 < image.size() ? image[at + 1] << 8 : 0);
    if (at == checkSumAt || at == checkSumAt + 2) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(sum + image.size());
}
