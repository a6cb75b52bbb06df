// record_command: a stand-in for a program the self-extractor launches. It
// writes the command line it was started with, exactly as it arrived, to a
// file beside itself (its own path with ".txt" for ".exe") and ends.
//
// The launching program does not wait for it, so a test waits for the file
// to appear: it is written under a temporary name and then renamed, so that
// once it exists it is complete.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH + 8], partial[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length < 4 || length >= MAX_PATH) return 2;
  strcpy(path + length - 4, ".txt");
  strcpy(partial, path);
  strcpy(partial + length - 4, ".part");
  FILE* out = fopen(partial, "wb");
  if (!out) return 2;
  const char* line = GetCommandLineA();
  bool written = fwrite(line, 1, strlen(line), out) == strlen(line);
  if (fclose(out) != 0 || !written) return 2;
  return MoveFileExA(partial, path, MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
