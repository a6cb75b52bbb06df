// The fresh folder of a temporary setup (see temp_folder.h).
//
// Removal walks the tree depth first with one path buffer that grows and
// shrinks as it goes; each level holds one search record (about 320 bytes)
// on the stack. A path buffer holds at most 260 characters, which bounds the
// depth to about 130 levels; anything deeper cannot be named with these
// calls, and is left.
#include "output/temp_folder.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "output/output_paths.h"
#include "util/path_text.h"

static const char kTempNameFormat[] = "%sdravik-%08lx";
static const char kEverything[] = "\\*";
constexpr UINT kTempNameAttempts = 64;
constexpr UINT kTempNameLength = 16;  // a separator, "dravik-" and eight hex digits

[[noreturn]] static void CannotMakeTempFolder(LPCSTR path) {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotCreateFolder), path);
  FatalError(Sfx.MessageBuffer);  // no temporary folder, or no new folder can be made in it
}

void MakeFreshTempFolder() {
  CHAR base[kPathBufferSize];
  if (!PlatformUserTempFolder(base)) CannotMakeTempFolder("%TEMP%");
  if (lstrlenA(base) + kTempNameLength > MAX_PATH) CannotMakeTempFolder(base);
  EnsureTrailingSeparator(base);  // a drive's root ("C:\\") has its separator already
  // CreateDirectoryA fails for a name that exists, so the folder made is
  // always a new one: nothing already there is ever taken over (and later
  // removed).
  DWORD number = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (UINT attempt = 0; attempt < kTempNameAttempts; attempt++, number += 0x9E3779B1u) {
    wsprintfA(Sfx.TempFolder, kTempNameFormat, base, number);
    if (MakeFolder(Sfx.TempFolder) == 0) {
      lstrcpyA(Sfx.TargetFolder, Sfx.TempFolder);
      return;
    }
  }
  Sfx.TempFolder[0] = '\0';
  CannotMakeTempFolder(base);
}

static bool IsDotOrDotDot(LPCSTR name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

static void RemoveEntry(LPSTR path, DWORD attributes);

// Removes everything inside the folder `path` (in a kPathBufferSize buffer),
// then the folder itself; path is as it was when this returns.
static void RemoveFolderContents(LPSTR path) {
  UINT length = lstrlenA(path);
  if (length + sizeof kEverything > kPathBufferSize) return;  // cannot be searched: left
  lstrcpyA(path + length, kEverything);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      path[length + 1] = '\0';  // the folder and its separator
      if (IsDotOrDotDot(found.cFileName)) continue;
      if (length + 1 + lstrlenA(found.cFileName) > MAX_PATH) continue;  // too long to name: left
      lstrcatA(path, found.cFileName);
      RemoveEntry(path, found.dwFileAttributes);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  path[length] = '\0';
}

// Removes one file, link or folder. A reparse point is removed as the link
// it is: a directory link with RemoveDirectoryA, which never touches its
// target, a file link with DeleteFileA.
static void RemoveEntry(LPSTR path, DWORD attributes) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!link && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);  // or DeleteFileA refuses it
  if (folder && !link) RemoveFolderContents(path);
  if (folder)
    RemoveDirectoryA(path);
  else
    DeleteFileA(path);
}

void RemoveTempFolder() {
  if (!Sfx.TempFolder[0]) return;
  // The folder itself is looked at again: should it have been replaced by a
  // link since it was made, only the link goes.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(Sfx.TempFolder, &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    RemoveEntry(Sfx.TempFolder, found.dwFileAttributes);
  }
  Sfx.TempFolder[0] = '\0';
}
