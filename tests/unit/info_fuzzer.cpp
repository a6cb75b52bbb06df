// libFuzzer target of `dravik-sfx info` on arbitrary bytes: the command as
// users run it, over an in-memory file (fuzz_input_file.h), its output sent
// to the null device. It must end with status 0 (a self-extractor shown) or
// 2 (not one, or unreadable), and the sanitizers watch every read of the
// image's record, texts and archive.
//
// Built with clang++ -fsanitize=fuzzer,address,undefined (tests/unit/
// CMakeLists.txt); seeds: the engine target's self-extractors.
#include "builder/info_command.h"
#include "fuzz_input_file.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzInputFile input;
  static FILE* report = SilencePrinting();
  input.Write(data, size);
  std::string path = input.path();
  char* argv[] = {path.data()};
  int status = InfoCommand(1, argv);
  if (status != 0 && status != 2) {
    fprintf(report, "info ended with status %d\n", status);
    abort();  // an exit status the command does not give
  }
  return 0;
}
