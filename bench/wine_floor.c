/* The Win32 floor of an extraction under Wine: makes the files of a listing
   (one "folder\name<TAB>size" per line) under a destination folder, as any
   extractor must: each folder once, each file created new, its size written
   in 64 KiB writes, its time set, and closed. Nothing is read or decoded, so
   its time is what Wine's file calls alone cost for that tree.

   Usage: wine-floor.exe LISTING DESTINATION   (exit 1 when a file cannot be made) */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char zeros[65536];

/* Makes every folder of `path` (a folder, not a file) from the first one
   below the drive down. */
static void make_folders(char *path) {
  for (char *p = path + 3; *p; p++) {
    if (*p != '\\') continue;
    *p = 0;
    CreateDirectoryA(path, NULL);
    *p = '\\';
  }
  CreateDirectoryA(path, NULL);
}

static int make_file(const char *path, unsigned long size, const FILETIME *time) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written;
  while (size) {
    DWORD chunk = size < sizeof zeros ? size : sizeof zeros;
    WriteFile(file, zeros, chunk, &written, NULL);
    size -= chunk;
  }
  SetFileTime(file, time, time, time);
  CloseHandle(file);
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  FILE *listing = fopen(argv[1], "r");
  if (!listing) return 2;
  char line[2048], path[2048], folder[2048] = "";
  SYSTEMTIME now;
  FILETIME time;
  GetSystemTime(&now);
  SystemTimeToFileTime(&now, &time);
  while (fgets(line, sizeof line, listing)) {
    char *tab = strchr(line, '\t');
    if (!tab) continue;
    *tab = 0;
    snprintf(path, sizeof path, "%s\\%s", argv[2], line);
    char *slash = strrchr(path, '\\');
    *slash = 0;
    if (strcmp(path, folder) != 0) {  /* the folder changed: make it */
      strcpy(folder, path);
      make_folders(path);
    }
    *slash = '\\';
    if (!make_file(path, strtoul(tab + 1, NULL, 10), &time)) {
      printf("cannot make %s\n", path);
      return 1;
    }
  }
  return 0;
}
