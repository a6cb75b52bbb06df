// run_probe: the program a setup runs in the end-to-end tests. It writes its
// current folder and its command line into the report file named by its
// first argument and ends with the exit code given as its second.
//
// usage: run_probe REPORT EXIT_CODE [--hostile | --unix-link UNIX_FOLDER] [ARGUMENT...]
//
// Report, one line each:
//   folder=<the current folder at start>
//   line=<the command line as it arrived>
// The report is written under a temporary name and then renamed, so that
// once it exists it is complete.
//
// --hostile behaves as a careless installer might, to show that the removal
// of a temporary setup's folder stays inside it: it leaves a read-only file
// and a nested folder in its current folder, writes beside-1.txt next to
// that folder (through ".."), then makes the parent its current folder and
// writes beside-2.txt there by a relative name.
//
// --unix-link UNIX_FOLDER makes a link "outside-link" in its current folder
// that leads to UNIX_FOLDER (outside it), as an installer that links a
// shared folder might; the removal must never enter it. Wine 8 answers
// CreateSymbolicLinkA with success but makes nothing, so the link is made
// as a Unix symbolic link by /bin/ln, which Wine starts as it would a
// Windows program and shows as a reparse point. Wine does not signal the
// end of a Unix program, so the probe waits for the link to appear.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool WriteText(const char* path, const char* text) {
  FILE* out = fopen(path, "wb");
  if (!out) return false;
  bool written = fputs(text, out) >= 0;
  return fclose(out) == 0 && written;
}

bool ActHostile() {
  CreateDirectoryA("nested", nullptr);
  CreateDirectoryA("nested\\deeper", nullptr);
  bool ok = WriteText("nested\\deeper\\left.txt", "left behind\n") && WriteText("readonly.txt", "read-only\n") &&
            SetFileAttributesA("readonly.txt", FILE_ATTRIBUTE_READONLY) &&
            WriteText("..\\beside-1.txt", "beside the folder\n");
  return ok && SetCurrentDirectoryA("..") && WriteText("beside-2.txt", "beside the folder\n");
}

bool MakeUnixLink(const char* target) {
  static const char kLinkName[] = "outside-link";
  char line[MAX_PATH + 64];
  snprintf(line, sizeof line, "/bin/ln -s %s %s", target, kLinkName);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  if (!CreateProcessA("Z:\\bin\\ln", line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  for (int waited_ms = 0; waited_ms < 5000; waited_ms += 50) {
    if (GetFileAttributesA(kLinkName) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(50);
  }
  return false;
}

bool WriteReport(const char* report, const char* folder) {
  char partial[MAX_PATH + 16];
  snprintf(partial, sizeof partial, "%s.part", report);
  FILE* out = fopen(partial, "wb");
  if (!out) return false;
  bool written = fprintf(out, "folder=%s\nline=%s\n", folder, GetCommandLineA()) > 0;
  if (fclose(out) != 0 || !written) return false;
  return MoveFileExA(partial, report, MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 64;
  char folder[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return 65;
  if (__argc > 3 && !strcmp(__argv[3], "--hostile") && !ActHostile()) return 66;
  if (__argc > 4 && !strcmp(__argv[3], "--unix-link") && !MakeUnixLink(__argv[4])) return 68;
  if (!WriteReport(__argv[1], folder)) return 67;
  return static_cast<int>(strtoul(__argv[2], nullptr, 0));
}
