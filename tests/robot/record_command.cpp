// record_command: a stand-in for a program the self-extractor launches. It
// writes the command line it was started with, exactly as it arrived, to a
// file beside itself (its own path with ".txt" for ".exe") and ends.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length < 4 || length >= MAX_PATH) return 2;
  strcpy(path + length - 4, ".txt");
  FILE* out = fopen(path, "wb");
  if (!out) return 2;
  const char* line = GetCommandLineA();
  bool written = fwrite(line, 1, strlen(line), out) == strlen(line);
  return fclose(out) == 0 && written ? 0 : 2;
}
