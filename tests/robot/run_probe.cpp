// run_probe: the program a setup runs in the end-to-end tests. It writes its
// current folder and its command line into the report file named by its
// first argument and ends with the exit code given as its second.
//
// usage: run_probe REPORT EXIT_CODE [--hostile] [ARGUMENT...]
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
  if (!WriteReport(__argv[1], folder)) return 67;
  return static_cast<int>(strtoul(__argv[2], nullptr, 0));
}
