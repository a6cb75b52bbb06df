// The default destination: TMP, else TEMP, else a TEMP folder inside the
// Windows folder (created when missing).
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "output/output_paths.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

// Room left in the candidate for "\TEMP" after the Windows folder.
constexpr UINT kWindowsFolderLimit = 250;

// The variable's value, when it is set, not empty, and fits in a path.
static bool ReadFolderVariable(LPCSTR variable, LPSTR candidate) {
  DWORD length = GetEnvironmentVariableA(variable, candidate, kPathBufferSize);
  return length > 0 && length < kPathBufferSize;  // a longer value counts as unset
}

static bool EnsureTempSubfolder(LPSTR candidate) {
  EnsureTrailingSeparator(candidate);
  lstrcatA(candidate, MsgText(MsgTempVariable));
  DWORD isFolder = 0;
  if (PathExists(candidate, &isFolder)) return MakeFolder(candidate) == 0;
  return isFolder != 0;  // a file named TEMP is no folder
}

static bool WindowsTempFolder(LPSTR candidate) {
  UINT length = GetWindowsDirectoryA(candidate, kWindowsFolderLimit);
  return length > 0 && length < kWindowsFolderLimit && EnsureTempSubfolder(candidate);
}

bool ChooseDefaultFolder(LPSTR destination) {
  CHAR candidate[kPathBufferSize + 8];
  if (!ReadFolderVariable("TMP", candidate) && !ReadFolderVariable(MsgText(MsgTempVariable), candidate) &&
      !WindowsTempFolder(candidate))
    return false;
  StripTrailingSeparator(candidate);
  lstrcpyA(destination, candidate);
  return true;
}
