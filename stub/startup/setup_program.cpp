// A setup's program (see setup_program.h).
//
// Windows looks a program without a path up in the starting program's own
// folder and current folder, then the system folders and PATH; a setup's
// program lies in the extraction folder, which is neither. So a relative
// name that names a file there is started by its full path (CreateProcessA's
// application name), while the command line is handed over exactly as the
// publisher wrote it; any other name ("msiexec", "cmd") is left to Windows'
// own search.
//
// The main dialog has ended before the program starts, so no window of ours
// waits unanswered while it runs.
#include "startup/setup_program.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "util/path_text.h"

static const char kExeExtension[] = ".exe";
constexpr UINT kExeExtensionLength = 4;

bool FormRunCommandLine(LPSTR line, UINT size) {
  UINT folderLength = lstrlenA(Sfx.TargetFolder);
  UINT length = 0;
  for (LPCSTR p = Sfx.RunCommand; *p;) {
    bool placeholder = !BytesDiffer(p, kFolderPlaceholder, kFolderPlaceholderLength);
    LPCSTR from = placeholder ? Sfx.TargetFolder : p;
    UINT count = placeholder ? folderLength : static_cast<UINT>(CharNextA(p) - p);
    if (length + count >= size) return false;
    CopyBytes(line + length, from, count);
    length += count;
    p += placeholder ? kFolderPlaceholderLength : count;
  }
  line[length] = '\0';
  return true;
}

void ProgramNamed(LPCSTR line, LPSTR program) {
  while (*line == ' ') line++;
  LPCSTR start = line;
  LPCSTR end;
  if (*line == '"') {
    start = line + 1;
    end = FindChar(start, '"');
  } else {
    end = FindChar(line, ' ');
  }
  UINT length = static_cast<UINT>(end - start);
  if (length > MAX_PATH) length = MAX_PATH;
  CopyBytes(program, start, length);
  program[length] = '\0';
}

static bool IsRelativePath(LPCSTR path) {
  return path[0] && !IsPathSeparator(path[0]) && !(path[0] && path[1] == ':');
}

bool FindProgramInFolder(LPCSTR program, LPSTR path) {
  if (!IsRelativePath(program)) return false;
  UINT folderLength = lstrlenA(Sfx.TargetFolder);
  if (folderLength + 1 + lstrlenA(program) + kExeExtensionLength > MAX_PATH) return false;
  lstrcpyA(path, Sfx.TargetFolder);
  EnsureTrailingSeparator(path);
  lstrcatA(path, program);
  if (!*FindChar(FileNamePart(path), '.')) lstrcatA(path, kExeExtension);  // as Windows adds it
  DWORD isFolder = 0;
  return PathExists(path, &isFolder) == 0 && !isFolder;
}

[[noreturn]] static void CannotStart(LPCSTR program) {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotStartProgram), program);
  FatalError(Sfx.MessageBuffer);  // missing, not a program, or its command line too long
}

void RunSetupProgram() {
  CHAR line[kRunCommandLineLimit + 1];
  CHAR program[kPathBufferSize];
  CHAR programPath[kPathBufferSize];
  bool formed = FormRunCommandLine(line, sizeof line);
  ProgramNamed(formed ? line : Sfx.RunCommand, program);
  if (!formed) CannotStart(program);
  LPCSTR application = FindProgramInFolder(program, programPath) ? programPath : nullptr;
  STARTUPINFOA startup;
  FillBytes(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  if (!CreateProcessA(application, line, nullptr, nullptr, FALSE, 0, nullptr, Sfx.TargetFolder, &startup, &started))
    CannotStart(program);
  CloseHandle(started.hThread);
  DWORD exitCode = kExitFailure;  // should the wait or the query fail, the outcome is unknown
  if (WaitForSingleObject(started.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(started.hProcess, &exitCode))
    exitCode = kExitFailure;
  CloseHandle(started.hProcess);
  Sfx.ExitCode = exitCode;
}
