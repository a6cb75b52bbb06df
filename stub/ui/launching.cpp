// Help and the associated archiver: the help text, and the self-extractor
// handed to the archiver whose open command is registered for the product.
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

static const char kArchiverCommandKey[] = "dravik\\shell\\open\\command";
static const char kQuotedPath[] = "\"%s\"";
constexpr LONG kRegisteredCommandSize = 261;
constexpr UINT kFirstStartedHandle = 32;  // WinExec: values below are failures

// The help text names the file. With about 250 characters of its own, a
// file name near the longest that Windows allows would make a help text of
// over 500 bytes; such a name is replaced by "this self-extractor file", as
// the dialog's prompt replaces a long name. (The message buffer itself is
// larger, for messages naming UTF-8 entry paths.)
constexpr int kLongestHelpText = 500;

void ShowHelp() {
  LPCSTR helpFormat = MsgText(MsgHelpText);
  LPCSTR name = FileNamePart(Sfx.ModulePath);
  int room = kLongestHelpText - (lstrlenA(helpFormat) - 2) - 1;  // "%s" and the terminator
  if (lstrlenA(name) > room) name = MsgText(MsgThisSelfExtractor);
  wsprintfA(Sfx.MessageBuffer, helpFormat, name);
  ShowMessage(Sfx.MessageBuffer, MB_OK);
}

// Where the program part of a registered command ends: at its first blank,
// or, when the program's path is quoted (as a path with blanks must be), at
// the first blank after the closing quote. Points at the terminator when
// the command has no such blank.
static LPSTR EndOfProgram(LPSTR command) {
  LPSTR from = command;
  if (*from == '"') from = FindChar(from + 1, '"');
  return FindChar(from, ' ');
}

// The command line: the registered program, a blank, then our own path in
// double quotes in place of the program's registered arguments (such as a
// placeholder for the file). A registered command made of the program alone
// gets the blank added, so the path is always handed over as its argument.
static void FormCommand(LPSTR command) {
  LPSTR end = EndOfProgram(command);
  end[0] = ' ';
  end[1] = '\0';
  wsprintfA(command + lstrlenA(command), kQuotedPath, Sfx.ModulePath);
}

// A spanned set of ".ZIP" volumes is opened through its volume of our name
// with the extension "zip": the three characters before the closing quote.
static void UseZipVolumeName(LPSTR command) {
  DWORD flags = Sfx.Config->SfxFlags;
  if (!(flags & SfxFlag::SpannedArchive) || (flags & SfxFlag::ExeFirstVolume)) return;
  LPSTR closingQuote = command + lstrlenA(command) - 1;
  if (closingQuote - 3 > command) CopyBytes(closingQuote - 3, "zip", 3);
}

// The archiver is missing: not registered, or (Shift held) not to be used,
// or its registered program could not be started.
static bool ReportArchiverMissing() {
  ShowMessage(MsgText(MsgArchiverMissing), MB_OK);
  return false;
}

bool RunArchiver() {
  CHAR command[kRegisteredCommandSize + kPathBufferSize + 4];
  LONG size = kRegisteredCommandSize;
  if (GetKeyState(VK_SHIFT) < 0) return ReportArchiverMissing();
  if (RegQueryValueA(HKEY_CLASSES_ROOT, kArchiverCommandKey, command, &size) != ERROR_SUCCESS)
    return ReportArchiverMissing();
  command[kRegisteredCommandSize - 1] = '\0';
  FormCommand(command);
  UseZipVolumeName(command);
  // WinExec answers 0 or an error number below 32 when the program did not
  // start; the dialog then stays open with the reason, rather than ending
  // as though the file had been handed over.
  if (WinExec(command, SW_SHOWNORMAL) < kFirstStartedHandle) return ReportArchiverMissing();
  return true;
}
