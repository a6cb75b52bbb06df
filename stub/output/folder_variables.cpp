// Environment variables in the destination folder (see folder_variables.h).
//
// Our own expansion rather than ExpandEnvironmentStringsA, which leaves an
// undefined %NAME% in place: a folder such as "%NOPE%\Foo" would then be
// created literally beside the program instead of being refused.
//
// Buffers: the result is built in a second path buffer, so the folder text
// is read whole while it is expanded; a value is read into a path buffer
// too, and one that does not fit in a path cannot fit in the result.
#include "output/folder_variables.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "util/path_text.h"

constexpr UINT kLongestVariableName = MAX_PATH;

// The variable's name is between the two percent signs; ends the program
// when it is not set.
[[noreturn]] static void ReportUndefined(LPCSTR name, UINT nameLength) {
  CHAR shown[kLongestVariableName + 1];
  CopyBytes(shown, name, nameLength);
  shown[nameLength] = '\0';
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgUndefinedVariable), shown);
  FatalError(Sfx.MessageBuffer);  // the folder names a variable that is not set
}

[[noreturn]] static void ReportTooLong(LPCSTR folder) {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgFolderTooLong), folder);
  FatalError(Sfx.MessageBuffer);  // the expanded folder does not fit in a path
}

// Appends count bytes at `from` to the result; false when they do not fit.
static bool Append(LPSTR result, UINT* length, LPCSTR from, UINT count) {
  if (*length + count > MAX_PATH) return false;
  CopyBytes(result + *length, from, count);
  *length += count;
  return true;
}

void ExpandFolderVariables(LPSTR folder) {
  CHAR result[kPathBufferSize];
  CHAR value[kPathBufferSize];
  UINT length = 0;
  LPCSTR p = folder;
  while (*p) {
    LPCSTR percent = FindChar(p, '%');
    LPCSTR closing = *percent ? FindChar(percent + 1, '%') : percent;
    if (!*closing) {  // no variable from here on: the rest as it is
      if (!Append(result, &length, p, lstrlenA(p))) ReportTooLong(folder);
      break;
    }
    if (!Append(result, &length, p, static_cast<UINT>(percent - p))) ReportTooLong(folder);
    UINT nameLength = static_cast<UINT>(closing - percent - 1);
    if (nameLength == 0) {  // "%%"
      if (!Append(result, &length, "%", 1)) ReportTooLong(folder);
    } else {
      CHAR name[kLongestVariableName + 1];
      CopyBytes(name, percent + 1, nameLength);
      name[nameLength] = '\0';
      DWORD valueLength = GetEnvironmentVariableA(name, value, kPathBufferSize);
      if (valueLength == 0) ReportUndefined(percent + 1, nameLength);
      if (valueLength >= kPathBufferSize || !Append(result, &length, value, valueLength)) ReportTooLong(folder);
    }
    p = closing + 1;
  }
  result[length] = '\0';
  lstrcpyA(folder, result);
}
