// dravik-sfx: builds self-extractors and inspects, tests and extracts them.
//
// Exit status: 0 success, 1 cancelled by the user, 2 failure (one line on
// standard error), 64 wrong usage.
#include "builder/build_command.h"
#include "builder/extract_command.h"
#include "builder/info_command.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: dravik-sfx COMMAND [options]\n"
    "  build -o OUT.exe [options] PATH...       archive files and folders into a new self-extractor\n"
    "  build -o OUT.exe [options] --zip IN.zip  wrap an existing ZIP archive\n"
    "  info FILE.exe                            the configuration record, texts and archive summary\n"
    "  test FILE.exe                            integrity checks, then every entry decoded and checked\n"
    "  extract FILE.exe [-d DIR]                extract with the self-extractor's own engine\n"
    "Run 'dravik-sfx COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return kExitUsage;
  }
  const char* command = argv[1];
  if (!strcmp(command, "--help") || !strcmp(command, "-h")) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (!strcmp(command, "build")) return BuildCommand(argc - 2, argv + 2);
  if (!strcmp(command, "info")) return InfoCommand(argc - 2, argv + 2);
  if (!strcmp(command, "test")) return TestCommand(argc - 2, argv + 2);
  if (!strcmp(command, "extract")) return ExtractCommand(argc - 2, argv + 2);
  fprintf(stderr, "dravik-sfx: unknown command '%s'\n%s", command, kUsage);
  return kExitUsage;
}
