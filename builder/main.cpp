// dravik-sfx: builds self-extractors and inspects, tests and extracts them.
//
// Exit status: 0 success, 1 cancelled by the user, 2 failure (one line on
// standard error), 64 wrong usage.
#include "builder/build_command.h"
#include "builder/cli.h"
#include "builder/extract_command.h"
#include "builder/info_command.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

// The stubs built with this program (generated sources).
extern const unsigned EmbeddedStubX86_size;
extern const unsigned EmbeddedStubX64_size;

namespace {

// The version, the stubs it carries and the libraries it uses.
std::string VersionText() {
  char text[256];
  snprintf(text, sizeof text,
           "dravik-sfx %s\n"
           "stubs: x86 (PE32) %u bytes, x64 (PE32+) %u bytes\n"
           "libraries: zlib %s\n",
           DRAVIK_VERSION, EmbeddedStubX86_size, EmbeddedStubX64_size, zlibVersion());
  return text;
}

// The commands with a line each, then where each one's options are listed.
std::string MainUsage() {
  std::string text = "usage: dravik-sfx COMMAND [options]\n";
  unsigned count;
  const CliCommand* commands = CliCommands(&count);
  for (unsigned i = 0; i < count; i++) {
    std::string name = commands[i].name;
    name.resize(10, ' ');
    text += "  " + name + commands[i].summary + "\n";
  }
  return text + "Run 'dravik-sfx COMMAND --help' for a command's options.\n";
}

int VersionCommand(int argc, char** argv) {
  if (argc == 1 && FindOption(*FindCommand("version"), argv[0])) {
    fputs(UsageText(*FindCommand("version")).c_str(), stdout);
    return 0;
  }
  if (argc > 0) return UsageError("version", std::string("unexpected argument '") + argv[0] + "'");
  fputs(VersionText().c_str(), stdout);
  return 0;
}

// Writes the man page or the bash completion (for the build, which installs
// them): both come from the option table the parsers use.
int GenerateCommand(int argc, char** argv) {
  if (argc == 1 && !strcmp(argv[0], "man")) fputs(ManPage().c_str(), stdout);
  else if (argc == 1 && !strcmp(argv[0], "bash-completion")) fputs(BashCompletion().c_str(), stdout);
  else return UsageError("generate", "takes man or bash-completion");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("", "a command is required");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    fputs(MainUsage().c_str(), stdout);
    return 0;
  }
  int rest = argc - 2;
  char** restArgs = argv + 2;
  if (command == "--version" || command == "-V" || command == "version") return VersionCommand(rest, restArgs);
  if (command == "build") return BuildCommand(rest, restArgs);
  if (command == "info") return InfoCommand(rest, restArgs);
  if (command == "test") return TestCommand(rest, restArgs);
  if (command == "extract") return ExtractCommand(rest, restArgs);
  if (command == "generate") return GenerateCommand(rest, restArgs);
  return UsageError("", "unknown command '" + command + "'");
}
