// Command-line tail, "-info" and the unattended-mode option (command_line.h).
//
// Only the first '-' or '/' of the tail introduces an option, and keywords
// are matched by prefix after the word is upper-cased, so "/autoc:\out" sets
// unattended mode with the folder "C:\OUT", and "/automatic" the folder
// "MATIC". The keywords come from the message table.
#include "startup/command_line.h"

#include "base/sfx_state.h"
#include "container/message_table.h"
#include "util/path_text.h"

static const char kInfoOption[] = "-info";
constexpr UINT kInfoOptionLength = 5;

LPSTR CommandTail(LPSTR commandLine) {
  CHAR terminator = (commandLine[0] == '"') ? '"' : ' ';
  if (!commandLine[0]) return commandLine;
  LPSTR p = commandLine + 1;
  while (*p && *p != terminator) p++;
  return *p ? p + 1 : p;
}

bool TailAsksForInfo(LPCSTR tail) {
  for (; *tail; tail++)
    if (!BytesDiffer(tail, kInfoOption, kInfoOptionLength)) return true;
  return false;
}

void ParseCommandLine(LPSTR tail) {
  LPSTR p = tail;
  while (*p && *p != '-' && *p != '/') p = CharNextA(p);
  if (!*p) return;  // no option
  p++;
  LPCSTR noAuto = MsgText(MsgKeywordNoAuto);
  LPCSTR autoWord = MsgText(MsgKeywordAuto);
  UINT noAutoLength = lstrlenA(noAuto);
  UINT autoLength = lstrlenA(autoWord);
  UINT shortest = noAutoLength < autoLength ? noAutoLength : autoLength;
  UINT remaining = lstrlenA(p);
  if (remaining < shortest) return;
  LPSTR wordEnd = FindChar(p, ' ');
  CharUpperBuffA(p, static_cast<DWORD>(wordEnd - p));
  if (remaining >= noAutoLength && !BytesDiffer(p, noAuto, noAutoLength)) {
    Sfx.Unattended = 0;
    return;
  }
  if (BytesDiffer(p, autoWord, autoLength)) return;  // neither keyword
  Sfx.Unattended = 1;
  p += autoLength;
  while (*p == ' ') p++;
  if (!*p) return;  // no folder: TargetFolder keeps its default
  bool quoted = (*p == '"');
  if (quoted) p++;
  // A folder longer than the buffer is cut to its 260 characters.
  UINT length = lstrlenA(p);
  if (length > MAX_PATH) length = MAX_PATH;
  CopyBytes(Sfx.TargetFolder, p, length);
  Sfx.TargetFolder[length] = '\0';
  if (quoted) *FindChar(Sfx.TargetFolder, '"') = '\0';
}
