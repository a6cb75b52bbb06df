// Help and the associated archiver: the help text, and the self-extractor
// handed to the archiver whose open command is registered for the product.
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

static const char kArchiverCommandKey[] = "dravik\\shell\\open\\command";
static const char kQuotedPath[] = "\"%s\"";
constexpr LONG kRegisteredCommandSize = 261;

void ShowHelp() {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgHelpText), FileNamePart(Sfx.ModulePath));
  ShowMessage(Sfx.MessageBuffer, MB_OK);
}

// The command line: the registered program up to its first blank, then our
// own path in double quotes in place of its arguments. A registered command
// without a blank is the program alone, and gets a blank added before the
// path, so the path is always handed over as the program's argument.
static void FormCommand(LPSTR command) {
  LPSTR blank = FindChar(command, ' ');
  if (*blank) {
    blank[1] = '\0';
  } else {
    blank[0] = ' ';
    blank[1] = '\0';
  }
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

bool RunArchiver() {
  CHAR command[kRegisteredCommandSize + kPathBufferSize + 4];
  LONG size = kRegisteredCommandSize;
  bool shiftDown = GetKeyState(VK_SHIFT) < 0;
  if (shiftDown || RegQueryValueA(HKEY_CLASSES_ROOT, kArchiverCommandKey, command, &size) != ERROR_SUCCESS) {
    ShowMessage(MsgText(MsgArchiverMissing), MB_OK);
    return false;
  }
  command[kRegisteredCommandSize - 1] = '\0';
  FormCommand(command);
  UseZipVolumeName(command);
  return WinExec(command, SW_SHOWNORMAL) != 0;
}
