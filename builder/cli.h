// The command line of dravik-sfx: every command's options in one table. The
// parsers look an option up there (whether it exists, whether a value
// follows it); --help, the man page and the bash completion are written from
// the same table, so that none of them can drift from what is parsed.
//
// Errors are one line on standard error: "dravik-sfx COMMAND: what is wrong",
// with "(see 'dravik-sfx COMMAND --help')" after a usage error.
#pragma once

#include <string>

constexpr int kToolExitFailure = 2;
constexpr int kToolExitUsage = 64;

struct CliOption {
  const char* name;   // "--folder", "-o"
  const char* value;  // the word for what follows it ("TEXT"), or null for a switch
  const char* help;   // one line
};

struct CliCommand {
  const char* name;      // "build"
  const char* synopsis;  // the arguments, one form per line
  const char* summary;   // one line
  const CliOption* options;
  unsigned optionCount;
};

// The commands, in the order --help lists them.
const CliCommand* CliCommands(unsigned* count_ret);

// The command named `name`; null for an unknown one.
const CliCommand* FindCommand(const std::string& name);

// The option `arg` of `command` (--help and -h included); null when it has none.
const CliOption* FindOption(const CliCommand& command, const std::string& arg);

// "usage: ..." with the synopsis, the summary and one line per option.
std::string UsageText(const CliCommand& command);

// One line on standard error and the usage exit status, 64.
int UsageError(const std::string& command, const std::string& why);

// One line on standard error and the failure exit status, 2.
int FailureLine(const std::string& command, const std::string& why);

// The man page (roff) and the bash completion script.
std::string ManPage();
std::string BashCompletion();
