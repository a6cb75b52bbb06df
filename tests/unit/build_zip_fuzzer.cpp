// libFuzzer target of `dravik-sfx build --zip` on arbitrary bytes: the
// command as users run it (the reader, the data checks and the layout with
// the built-in x86 stub), the input an in-memory file (fuzz_input_file.h),
// the self-extractor written to /dev/shm (memory, not disk) and removed
// after each input.
//
// What must hold:
//   - the command ends with status 0 (built) or 2 (refused with a reason),
//     never a crash or a usage status;
//   - what it builds reads back as a ZIP archive whose entries are the
//     input's, one for one: the same CRC-32s and sizes; the same data bytes
//     and method for an entry the self-extractor reads as it is (stored or
//     deflated), a deflated or stored one for an entry compressed otherwise
//     (re-encoded); the same name where it is plain ASCII (others are
//     stored in UTF-8).
//
// Built with clang++ -fsanitize=fuzzer,address,undefined (tests/unit/
// CMakeLists.txt); seeds: archives made by zip, 7z and Python's zipfile
// (fuzz_corpus/make_sfx_corpus.py) and the test data written by others.
#include "builder/build_command.h"
#include "builder/file_io.h"
#include "builder/zip_reader.h"
#include "fuzz_input_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

FILE* Report;

[[noreturn]] void Finding(const std::string& what) {
  fprintf(Report, "build --zip: %s\n", what.c_str());
  abort();
}

// The self-extractor's path: a file of this process in /dev/shm, removed
// after every input (no folder, which libFuzzer's quick exit would leave).
std::string OutputPath() { return "/dev/shm/dravik-build-zip-fuzz-" + std::to_string(getpid()) + ".exe"; }

// The entries of the self-extractor, read back, against the input's.
void CompareEntries(const uint8_t* data, size_t size, const std::string& built) {
  std::vector<uint8_t> inputBytes(data, data + size), builtBytes;
  ZipArchive input, output;
  std::string error;
  if (!ReadZip(inputBytes, &input, &error)) Finding("built from an input it cannot read again: " + error);
  if (!ReadWholeFile(built, &builtBytes)) Finding("the self-extractor cannot be read");
  if (!ReadZip(builtBytes, &output, &error)) Finding("the self-extractor is not a readable ZIP archive: " + error);
  if (input.entries.size() != output.entries.size()) Finding("the entry count changed");
  for (size_t i = 0; i < input.entries.size(); i++) {
    const ZipEntry &in = input.entries[i], &out = output.entries[i];
    bool readAsItIs = in.method == 0 || in.method == 8;
    bool asciiName = true;
    for (unsigned char c : in.name) asciiName = asciiName && c < 0x80;
    bool kept = in.crc32 == out.crc32 && in.uncompressedSize == out.uncompressedSize &&
                (!asciiName || in.name == out.name) &&
                (readAsItIs ? in.method == out.method && in.data == out.data : out.method == 0 || out.method == 8);
    if (!kept) Finding("entry " + std::to_string(i) + " (\"" + in.name + "\") changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzInputFile input;
  static std::string output = OutputPath();
  Report = Report ? Report : SilencePrinting();
  input.Write(data, size);
  std::string zipPath = input.path();
  char* argv[] = {const_cast<char*>("-o"), output.data(), const_cast<char*>("--zip"), zipPath.data()};
  int status = BuildCommand(4, argv);
  if (status == 0) {
    CompareEntries(data, size, output);
    unlink(output.c_str());
  } else if (status != 2) {
    Finding("ended with status " + std::to_string(status));
  }
  return 0;
}
