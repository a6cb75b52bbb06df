// The command line of dravik-sfx (see cli.h).
#include "builder/cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const CliOption kHelp = {"--help", nullptr, "this text (also -h)"};

const CliOption kBuildOptions[] = {
    {"-o", "OUT.exe", "the self-extractor to write (its folder is made if missing)"},
    {"-C", "DIR", "take the PATHs relative to DIR (-C DIR . stores DIR's contents)"},
    {"--zip", "IN.zip", "wrap an existing archive (bzip2, LZMA, XZ, Zstandard, Deflate64 re-encoded; AES needs --password)"},
    {"--exclude", "GLOB", "leave out files and folders whose stored path or name matches GLOB (repeatable)"},
    {"--follow-links", nullptr, "store what symbolic links point to (by default links are left out, with a note)"},
    {"--date", "SECONDS", "no entry dated after this Unix time (default: $SOURCE_DATE_EPOCH, if set)"},
    {"--folder", "TEXT", "default destination folder (\".\" is the self-extractor's folder)"},
    {"--prompt", "TEXT", "start-up question"},
    {"--prompt-buttons", "ok|yesno|okcancel", "the start-up question's buttons (default ok)"},
    {"--caption", "TEXT", "custom caption"},
    {"--caption-title", nullptr, "show the caption as the dialog's title"},
    {"--info", "TEXT", "text shown by \"-info\" (default: the options given here)"},
    {"--text", "TEXT", "the dialog's body text in place of the unzip prompt"},
    {"--buttons", "LIST", "the dialog's optional buttons: run,about,help or none (default all; none with --caption)"},
    {"--license", "FILE.txt", "a license (UTF-8 text) to accept before the dialog; /auto takes it as accepted"},
    {"--icon", "FILE.ico", "the program's icon (one or more images, PNG ones included)"},
    {"--version-info", "KEY=VALUE", "version information (ProductName, CompanyName, FileVersion, ...; repeatable)"},
    {"--elevate", nullptr, "the manifest requires administrator rights (default: asInvoker, no prompt)"},
    {"--highest-available", nullptr, "the manifest asks for the highest rights the user has"},
    {"--overwrite", nullptr, "\"overwrite without prompting\" starts checked"},
    {"--auto", nullptr, "unattended mode unless the command line says NOAUTO"},
    {"--run", "\"COMMAND LINE\"",
     "a setup: after extracting, run this in the extraction folder ({folder} stands for it), wait, end with its code"},
    {"--temp", nullptr, "with --run: extract into a fresh temporary folder, removed once the program has ended"},
    {"--password", "TEXT", "encrypt every entry with traditional ZIP encryption"},
    {"--level", "N", "deflate level from 1 to 12, 0 stores (default 12)"},
    {"-j", "N", "deflate with N threads (default: the machine's cores); the output is the same bytes"},
    {"-q", nullptr, "no progress line (shown on a terminal only)"},
    {"--codepage", "N", "Windows ANSI code page of the texts and of --ansi-names: 1250-1258, 874, 932, 936, 949, 950 (default 1252)"},
    {"--ansi-names", nullptr, "store names that are not ASCII in the --codepage, not in UTF-8 (for Windows without the wide API)"},
    {"--zip-codepage", "N", "with --zip: the code page of names not marked UTF-8 (default 437, as the ZIP format says)"},
    {"--no-stub-crc", nullptr, "leave the stub CRC 0 (check off)"},
    {"--crc-from-start", nullptr, "the stub CRC covers the image headers too (does not survive signing)"},
    {"--span", "SIZE", "a spanned set of volumes of at most SIZE bytes (K and M suffixes)"},
    {"--exe-volumes", nullptr, "spanned volumes carry \".EXE\", the first inside the self-extractor"},
    {"--split-set", nullptr, "with --zip naming the last part of a split archive: its parts become the disks"},
    {"--arch", "x86|x64", "the stub's architecture (default x86; x64 runs where 32-bit programs cannot)"},
    {"--stub", "FILE", "use this stub (x86 or x64) instead of the built-in one"},
    kHelp,
};

const CliOption kInfoOptions[] = {
    {"--entries", nullptr, "list every entry, its name in UTF-8"},
    {"--json", nullptr, "everything (record, flags, texts, entries) as JSON"},
    kHelp,
};

const CliOption kTestOptions[] = {
    {"--password", "TEXT", "the password, tried as given and in the code page"},
    {"--codepage", "N", "the code page of a password typed here: 1252 (default) or 932"},
    kHelp,
};

const CliOption kExtractOptions[] = {
    {"-d", "DIR", "extract into DIR (default: the current folder)"},
    {"--overwrite", nullptr, "replace existing files without asking"},
    {"--skip-existing", nullptr, "keep existing files without asking"},
    {"--password", "TEXT", "the password, tried as given and in the code page"},
    {"--codepage", "N", "the code page of a password typed here: 1252 (default) or 932"},
    kHelp,
};

const CliOption kVersionOptions[] = {kHelp};

template <unsigned N>
constexpr CliCommand Command(const char* name, const char* synopsis, const char* summary,
                             const CliOption (&options)[N]) {
  return {name, synopsis, summary, options, N};
}

const CliCommand kCommands[] = {
    Command("build", "-o OUT.exe [options] PATH...\n-o OUT.exe [options] --zip IN.zip",
            "Builds a self-extractor from files and folders, or around an existing ZIP archive.", kBuildOptions),
    Command("info", "[--entries | --json] FILE.exe",
            "Shows a self-extractor's settings, texts and a summary of its archive.", kInfoOptions),
    Command("test", "[options] FILE.exe",
            "Runs the self-extractor's integrity checks, then decodes every entry and checks its CRC.", kTestOptions),
    Command("extract", "[options] FILE.exe", "Extracts every entry with the self-extractor's own engine.",
            kExtractOptions),
    Command("version", "", "Shows the version, the stubs it carries and the libraries it uses (also --version, -V).",
            kVersionOptions),
};

// "--folder TEXT" padded to the help column.
std::string OptionLine(const CliOption& option) {
  std::string words = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
  if (words.size() < 24) words.resize(24, ' ');
  else words += "  ";
  return "  " + words + option.help + "\n";
}

// Text for roff: backslashes doubled, minus signs marked as such.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  return out;
}

}  // namespace

const CliCommand* CliCommands(unsigned* count_ret) {
  *count_ret = sizeof kCommands / sizeof kCommands[0];
  return kCommands;
}

const CliCommand* FindCommand(const std::string& name) {
  for (const CliCommand& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

const CliOption* FindOption(const CliCommand& command, const std::string& arg) {
  const std::string name = arg == "-h" ? "--help" : arg;
  for (unsigned i = 0; i < command.optionCount; i++)
    if (name == command.options[i].name) return &command.options[i];
  return nullptr;
}

std::string UsageText(const CliCommand& command) {
  std::string text;
  std::string synopsis = command.synopsis;
  size_t at = 0;
  do {
    size_t end = synopsis.find('\n', at);
    if (end == std::string::npos) end = synopsis.size();
    text += std::string(at ? "       " : "usage: ") + "dravik-sfx " + command.name +
            (end > at ? " " + synopsis.substr(at, end - at) : "") + "\n";
    at = end + 1;
  } while (at < synopsis.size());
  text += std::string(command.summary) + "\n";
  for (unsigned i = 0; i < command.optionCount; i++) text += OptionLine(command.options[i]);
  return text;
}

int UsageError(const std::string& command, const std::string& why) {
  std::string help = command.empty() ? "dravik-sfx --help" : "dravik-sfx " + command + " --help";
  fprintf(stderr, "dravik-sfx%s%s: %s (see '%s')\n", command.empty() ? "" : " ", command.c_str(), why.c_str(),
          help.c_str());
  return kToolExitUsage;
}

int FailureLine(const std::string& command, const std::string& why) {
  fprintf(stderr, "dravik-sfx%s%s: %s\n", command.empty() ? "" : " ", command.c_str(), why.c_str());
  return kToolExitFailure;
}

std::string ManPage() {
  std::string page = ".TH DRAVIK\\-SFX 1 \"\" \"dravik\\-sfx " + Roff(DRAVIK_VERSION) + "\" \"User Commands\"\n";
  page += ".SH NAME\ndravik\\-sfx \\- build, inspect, test and extract self\\-extracting ZIP archives for Windows\n";
  page += ".SH SYNOPSIS\n";
  for (const CliCommand& command : kCommands) {
    std::string synopsis = command.synopsis;
    for (size_t at = 0; at <= synopsis.size();) {
      size_t end = std::min(synopsis.find('\n', at), synopsis.size());
      page += ".B dravik\\-sfx " + Roff(command.name) + "\n" + Roff(synopsis.substr(at, end - at)) + "\n.br\n";
      at = end + 1;
    }
  }
  page += ".SH COMMANDS\n";
  for (const CliCommand& command : kCommands) {
    page += ".SS " + Roff(command.name) + "\n" + Roff(command.summary) + "\n";
    for (unsigned i = 0; i < command.optionCount; i++) {
      const CliOption& option = command.options[i];
      page += ".TP\n.B " + Roff(option.name) + (option.value ? " \" " + Roff(option.value) + "\"" : "") + "\n" +
              Roff(option.help) + "\n";
    }
  }
  page += ".SH EXIT STATUS\n0 success; 1 cancelled by the user; 2 failure (one line on standard error); "
          "64 wrong usage.\n";
  return page;
}

std::string BashCompletion() {
  std::string script =
      "# bash completion for dravik-sfx, written by dravik-sfx from its option table.\n"
      "_dravik_sfx() {\n"
      "  local current=${COMP_WORDS[COMP_CWORD]} options\n"
      "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
      "    COMPREPLY=($(compgen -W '";
  for (const CliCommand& command : kCommands) script += std::string(command.name) + " ";
  script += "--help --version' -- \"$current\"))\n"
            "    return\n"
            "  fi\n"
            "  case ${COMP_WORDS[1]} in\n";
  for (const CliCommand& command : kCommands) {
    script += "    " + std::string(command.name) + ") options='";
    for (unsigned i = 0; i < command.optionCount; i++) script += std::string(i ? " " : "") + command.options[i].name;
    script += "' ;;\n";
  }
  script += "    *) options='' ;;\n"
            "  esac\n"
            "  if [[ $current == -* ]]; then\n"
            "    COMPREPLY=($(compgen -W \"$options\" -- \"$current\"))\n"
            "  else\n"
            "    COMPREPLY=($(compgen -f -- \"$current\"))\n"
            "  fi\n"
            "}\n"
            "complete -o filenames -F _dravik_sfx dravik-sfx\n";
  return script;
}
