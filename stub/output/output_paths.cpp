// Destination paths and folders (see output_paths.h).
//
// Trust: entry names come from the archive. IsSafeEntryName runs on every
// name before anything is made for it; the joins below check lengths
// against the 260-character path limit before copying.
#include "output/output_paths.h"

#include "container/message_table.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "util/path_text.h"

// The digits Windows accepts after COM and LPT in a device name: 1 to 9,
// and the superscripts 1, 2 and 3 (0xB9, 0xB2, 0xB3 in code page 1252),
// which it opens as COM1 ... as well.
static bool IsDeviceDigit(CHAR c) {
  BYTE b = static_cast<BYTE>(c);
  return (b >= '1' && b <= '9') || b == 0xB9 || b == 0xB2 || b == 0xB3;
}

static CHAR UpperAscii(CHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<CHAR>(c - 32) : c; }

// Whether [start, start + length) spells `name` in any case.
static bool SpellsName(LPCSTR start, UINT length, const char* name) {
  UINT i = 0;
  for (; i < length && name[i]; i++)
    if (UpperAscii(start[i]) != name[i]) return false;
  return i == length && !name[i];
}

// Whether the component [start, end) is a device name, alone, with an
// extension or with blanks before one: "con", "Nul.txt", "COM1.log",
// "CON .txt", "conin$". Windows opens the device for each of these,
// whatever folder the name stands in.
static bool IsDeviceName(LPCSTR start, LPCSTR end) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  static const char* const kNumbered[] = {"COM", "LPT"};
  LPCSTR stem = start;
  while (stem < end && *stem != '.') stem++;
  while (stem > start && stem[-1] == ' ') stem--;  // Windows drops the blanks, too
  UINT length = static_cast<UINT>(stem - start);
  for (const char* name : kDevices)
    if (SpellsName(start, length, name)) return true;
  if (length == 4 && IsDeviceDigit(start[3]))
    for (const char* name : kNumbered)
      if (SpellsName(start, 3, name)) return true;
  return false;
}

static bool IsParentComponent(LPCSTR start, LPCSTR end) {
  return end - start == 2 && start[0] == '.' && start[1] == '.';
}

// Windows strips a component's trailing dots and blanks when it opens a
// path, so "a. ", "..." and ".. " name something other than what they
// spell ("...", for one, becomes ".."): no such component is made. A lone
// "." (the folder itself, as in "./a.txt", which some writers store) stays.
static bool EndsInDotOrBlank(LPCSTR start, LPCSTR end) {
  bool currentFolder = end - start == 1 && *start == '.';
  return end > start && !currentFolder && (end[-1] == '.' || end[-1] == ' ');
}

// No Windows double-byte code page has a trail byte below 0x40: a lead byte
// followed by one is no character, and converters differ in whether they
// swallow that byte. It may be a colon, a dot, a blank or a separator that
// the checks here would otherwise never see.
constexpr BYTE kLowestTrailByte = 0x40;

bool IsSafeEntryName(LPCSTR name) {
  if (!*name) return false;  // names no file: its output path would be the destination folder itself
  LPCSTR p = name;
  if (IsPathSeparator(static_cast<BYTE>(*p))) p++;  // the one leading separator is dropped
  if (IsPathSeparator(static_cast<BYTE>(*p))) return false;  // still absolute: a network or root path
  LPCSTR component = p;
  for (;; p = CharNextA(p)) {
    bool multiByte = IsMultiByteChar(p);
    if (multiByte && static_cast<BYTE>(p[1]) < kLowestTrailByte) return false;  // a byte hidden behind a lead byte
    if (!multiByte && *p == ':') return false;  // drive prefix or alternate data stream
    if (*p && (multiByte || !IsPathSeparator(static_cast<BYTE>(*p)))) continue;
    if (IsParentComponent(component, p) || IsDeviceName(component, p) || EndsInDotOrBlank(component, p))
      return false;
    if (!*p) return true;
    component = p + 1;
  }
}

static void ReplaceSlashes(LPSTR path) {
  for (LPSTR p = path; *p; p = CharNextA(p))
    if (*p == '/' && !IsMultiByteChar(p)) *p = '\\';
}

int BuildEntryPath() {
  if (Sfx.TargetFolder[0]) {
    CHAR joined[kPathBufferSize + 1];
    lstrcpyA(joined, Sfx.TargetFolder);
    EnsureTrailingSeparator(joined);
    LPCSTR namePart = Sfx.EntryName;
    if (IsPathSeparator(static_cast<BYTE>(*namePart))) namePart++;  // one leading separator only
    if (lstrlenA(namePart) + lstrlenA(joined) + 1 > MAX_PATH) {
      wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotCreateOutput), Sfx.EntryName);
      FatalError(Sfx.MessageBuffer);  // the joined path is too long
    }
    lstrcatA(joined, namePart);
    lstrcpyA(Sfx.EntryName, joined);
  }
  ReplaceSlashes(Sfx.EntryName);
  return 1;
}

[[noreturn]] static void CannotCreateFolder(LPCSTR folder) {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotCreateFolder), folder);
  FatalError(Sfx.MessageBuffer);
}

// The work text of CreateEntryFolders: the folder entry's name joined to
// TargetFolder, or the file's output path.
static void FoldersToCreate(LPSTR work) {
  LPSTR last = LastChar(Sfx.EntryName);
  if (!last || !IsPathSeparator(static_cast<BYTE>(*last))) {
    lstrcpyA(work, Sfx.EntryName);
    return;
  }
  lstrcpyA(work, Sfx.TargetFolder);
  LPSTR targetLast = LastChar(work);
  if (targetLast && !IsPathSeparator(static_cast<BYTE>(*targetLast))) lstrcatA(work, "\\");
  if (lstrlenA(Sfx.EntryName) + lstrlenA(work) + 1 > MAX_PATH) CannotCreateFolder(Sfx.EntryName);
  lstrcatA(work, Sfx.EntryName);
}

// Where the folders to create begin: after a network path's server and
// share, and after a leading separator.
static LPSTR FirstFolderStart(LPSTR work) {
  LPSTR p = work;
  if (IsPathSeparator(static_cast<BYTE>(p[0])) && IsPathSeparator(static_cast<BYTE>(p[1]))) {
    p += 2;
    while (*p && !IsPathSeparator(static_cast<BYTE>(*p))) p = CharNextA(p);  // the server
    if (*p) {
      p++;
      while (*p && !IsPathSeparator(static_cast<BYTE>(*p))) p = CharNextA(p);  // the share
    }
  }
  if (*p && IsPathSeparator(static_cast<BYTE>(*p)) && !IsMultiByteChar(p)) p++;
  return p;
}

static bool IsBareDrive(LPCSTR text) { return IsAsciiLetter(static_cast<BYTE>(text[0])) && text[1] == ':' && !text[2]; }

// Length of the longest folder path at the start of `work` that the
// previous entry's folders already cover, so that a run of entries in one
// folder looks each folder up once, not once per entry.
static UINT KnownFolderLength(LPCSTR work, LPCSTR end) {
  UINT known = 0;
  UINT knownLength = lstrlenA(Sfx.KnownFolders);
  for (LPCSTR p = work; p < end; p = CharNextA(p)) {
    if (IsMultiByteChar(p) || !IsPathSeparator(static_cast<BYTE>(*p))) continue;
    UINT length = static_cast<UINT>(p - work);
    if (length > knownLength || BytesDiffer(work, Sfx.KnownFolders, length)) break;
    CHAR next = Sfx.KnownFolders[length];
    if (next && next != '\\') break;
    known = length;
  }
  return known;
}

// Remembers the folders of `work` (all but its last component) as existing.
static void RememberFolders(LPCSTR work, LPCSTR end) {
  UINT length = static_cast<UINT>(end - work);
  if (length > 0) length--;  // without the separator before the last component
  CopyBytes(Sfx.KnownFolders, work, length);
  Sfx.KnownFolders[length] = '\0';
}

int CreateEntryFolders() {
  CHAR work[kPathBufferSize + 1];
  FoldersToCreate(work);
  if (IsAsciiLetter(static_cast<BYTE>(work[0])) && work[1] == ':' && !IsValidDrive(work)) {
    work[1] = '\0';
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgInvalidDrive), work);
    FatalError(Sfx.MessageBuffer);  // no such drive
  }
  LPSTR end = FileNamePart(work);
  LPSTR known = work + KnownFolderLength(work, end);
  for (LPSTR p = FirstFolderStart(work); p < end; p = CharNextA(p)) {
    if (IsMultiByteChar(p) || !IsPathSeparator(static_cast<BYTE>(*p)) || p <= known) continue;
    *p = '\0';
    if (PathExists(work) && !IsBareDrive(work) && MakeFolder(work)) CannotCreateFolder(work);
    *p = '\\';
  }
  RememberFolders(work, end);
  return 1;
}

bool IsValidDrive(LPCSTR path) {
  CHAR root[4] = {path[0], ':', '\\', '\0'};
  return GetDriveTypeA(root) > DRIVE_NO_ROOT_DIR;
}

int PathExists(LPCSTR path, DWORD* isFolder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) *isFolder = FILE_ATTRIBUTE_DIRECTORY;
  FindClose(search);
  return 0;
}

int MakeFolder(LPCSTR path) { return CreateDirectoryA(path, nullptr) ? 0 : 1; }
