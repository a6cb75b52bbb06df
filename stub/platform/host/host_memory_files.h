// The host platform's in-memory file system (switched on through
// HostSetMemoryFileSystem in host_control.h), seen from host_win32.cpp: each
// file operation there hands over to these when the mode is on, so that a run
// of the engine touches no disk and costs no system call.
//
// What it simulates, as a Windows file system would behave:
//   - the module file: its bytes are the image given to HostSetModuleImage,
//     opened for reading under the module path (HostSetModulePath);
//   - files and folders the engine makes: paths and sizes only, no data;
//     a file or folder is made only inside a folder that exists (a drive
//     root of a drive the test declared, a UNC share root, or a folder made
//     before), never over a folder, never over the module file, and never
//     under a name holding a character Windows refuses in names;
//   - lookups as Windows resolves paths: no case, "." and ".." components
//     resolved, trailing dots and blanks of a component dropped, repeated
//     separators taken as one, relative paths against the current folder
//     (SetCurrentDirectoryA is remembered, not performed).
#pragma once

#include "platform/platform.h"

struct SfxConfigRecord;

void MemoryFilesReset();
bool MemoryFilesActive();
bool IsMemoryHandle(HFILE file);

HFILE MemoryOpen(LPCSTR path);
HFILE MemoryCreate(LPCSTR path);
UINT MemoryRead(HFILE file, LPVOID buffer, UINT count);
UINT MemoryWrite(HFILE file, UINT count);
LONG MemorySeek(HFILE file, LONG offset, int origin);
HFILE MemoryClose(HFILE file);
HANDLE MemoryFindFirst(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL MemoryMakeFolder(LPCSTR path);
BOOL MemorySetCurrentFolder(LPCSTR path);

// The configuration record in the module image, or null.
const SfxConfigRecord* MemorySfxRecord();
