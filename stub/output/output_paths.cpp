// Destination paths and folders (see output_paths.h).
//
// Trust: entry names come from the archive. IsSafeEntryName runs on every
// name before anything is made for it; the joins below check lengths
// against the 260-character path limit before copying.
//
// A UTF-8 entry (Sfx.EntryUtf8) goes through the same code: its name stays
// UTF-8 bytes, the destination folder is joined to it in UTF-8, lengths are
// counted in UTF-16 units as Windows counts them, and only the platform
// calls at the end (PathExists, MakeFolder) take the path as wide
// characters.
#include "output/output_paths.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "base/utf8_text.h"
#include "container/message_table.h"
#include "util/path_text.h"

static bool IsSuperscriptDigit(BYTE b) { return b == 0xB9 || b == 0xB2 || b == 0xB3; }

// The length in bytes of the digit Windows accepts after COM and LPT in a
// device name at p, or 0: 1 to 9, and the superscripts 1, 2 and 3 (U+00B9,
// U+00B2, U+00B3: one byte in code page 1252, C2 B9 ... in UTF-8), which it
// opens as COM1 ... as well.
static UINT DeviceDigitLength(LPCSTR p) {
  BYTE b = static_cast<BYTE>(p[0]);
  if (b >= '1' && b <= '9') return 1;
  if (!Sfx.EntryUtf8) return IsSuperscriptDigit(b) ? 1 : 0;
  return b == 0xC2 && IsSuperscriptDigit(static_cast<BYTE>(p[1])) ? 2 : 0;
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
  if (length > 3 && length == 3 + DeviceDigitLength(start + 3))
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

// The checks on one spelling of a name.
static bool IsSafeSpelling(LPCSTR name) {
  LPCSTR p = name;
  if (IsPathSeparator(static_cast<BYTE>(*p))) p++;  // the one leading separator is dropped
  if (IsPathSeparator(static_cast<BYTE>(*p))) return false;  // still absolute: a network or root path
  LPCSTR component = p;
  for (;; p = NextChar(p)) {
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

// Format notes (UTF-8): the full-width forms U+FF01-FF5E of the ASCII
// characters '!' to '~' and the ideographic space U+3000 are not path
// syntax to Windows' wide API, which makes "．．" a file of that name; but
// the best-fit conversion to an ANSI code page turns them into '.', '/',
// '\\', ':', "CON" and ' ', so any program that later handles the name
// through the ANSI API would see ".." or a device. A UTF-8 name is
// therefore also checked in this folded spelling. Every full-width form is
// three bytes in UTF-8 (EF BC 81 to EF BD 9E, E3 80 80) and folds to one,
// so the folded name fits where the name did.
static void FoldFullWidthForms(LPCSTR name, LPSTR folded) {
  const BYTE* p = reinterpret_cast<const BYTE*>(name);
  while (*p) {
    UINT unit = p[0] == 0xEF && (p[1] == 0xBC || p[1] == 0xBD) && p[2] ? (p[1] & 1) << 6 | (p[2] & 0x3F) : 0;
    if (unit >= 0x01 && unit <= 0x5E) {  // U+FF01 to U+FF5E: '!' to '~'
      *folded++ = static_cast<CHAR>(unit + 0x20);
      p += 3;
    } else if (p[0] == 0xE3 && p[1] == 0x80 && p[2] == 0x80) {  // U+3000, the ideographic space
      *folded++ = ' ';
      p += 3;
    } else {
      *folded++ = static_cast<CHAR>(*p++);
    }
  }
  *folded = '\0';
}

bool IsSafeEntryName(LPCSTR name) {
  if (!*name) return false;  // names no file: its output path would be the destination folder itself
  if (!IsSafeSpelling(name)) return false;
  if (!Sfx.EntryUtf8) return true;
  CHAR folded[kEntryTextSize];
  FoldFullWidthForms(name, folded);
  return IsSafeSpelling(folded);
}

static void ReplaceSlashes(LPSTR path) {
  for (LPSTR p = path; *p; p = NextChar(p))
    if (*p == '/' && !IsMultiByteChar(p)) *p = '\\';
}

[[noreturn]] static void CannotCreateOutput() {
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotCreateOutput), Sfx.EntryName);
  FatalError(Sfx.MessageBuffer);
}

// Copies TargetFolder into work (kEntryTextSize bytes) in the encoding of
// the entry's path texts: as it is for an ANSI entry, in UTF-8 for a UTF-8
// one. False when it cannot be converted.
static bool CopyTargetFolder(LPSTR work) {
  if (!Sfx.EntryUtf8) {
    lstrcpyA(work, Sfx.TargetFolder);
    return true;
  }
  return AnsiToUtf8(Sfx.TargetFolder, work, kEntryTextSize - 1);  // room for a separator
}

int BuildEntryPath() {
  if (Sfx.TargetFolder[0]) {
    CHAR joined[kEntryTextSize + 1];
    if (!CopyTargetFolder(joined)) CannotCreateOutput();  // the folder has no UTF-8 form
    EnsureTrailingSeparator(joined);
    LPCSTR namePart = Sfx.EntryName;
    if (IsPathSeparator(static_cast<BYTE>(*namePart))) namePart++;  // one leading separator only
    if (EntryTextLength(namePart) + EntryTextLength(joined) + 1 > MAX_PATH)
      CannotCreateOutput();  // the joined path is too long
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
  if (!CopyTargetFolder(work)) CannotCreateFolder(Sfx.EntryName);  // the folder has no UTF-8 form
  LPSTR targetLast = LastChar(work);
  if (targetLast && !IsPathSeparator(static_cast<BYTE>(*targetLast))) lstrcatA(work, "\\");
  if (EntryTextLength(Sfx.EntryName) + EntryTextLength(work) + 1 > MAX_PATH) CannotCreateFolder(Sfx.EntryName);
  lstrcatA(work, Sfx.EntryName);
}

// Where the folders to create begin: after a network path's server and
// share, and after a leading separator.
static LPSTR FirstFolderStart(LPSTR work) {
  LPSTR p = work;
  if (IsPathSeparator(static_cast<BYTE>(p[0])) && IsPathSeparator(static_cast<BYTE>(p[1]))) {
    p += 2;
    while (*p && !IsPathSeparator(static_cast<BYTE>(*p))) p = NextChar(p);  // the server
    if (*p) {
      p++;
      while (*p && !IsPathSeparator(static_cast<BYTE>(*p))) p = NextChar(p);  // the share
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
  if (Sfx.KnownFoldersUtf8 != Sfx.EntryUtf8) return 0;  // the same bytes would name other folders
  UINT known = 0;
  UINT knownLength = lstrlenA(Sfx.KnownFolders);
  for (LPCSTR p = work; p < end; p = NextChar(p)) {
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
  Sfx.KnownFoldersUtf8 = Sfx.EntryUtf8;
}

int CreateEntryFolders() {
  CHAR work[kEntryTextSize + 1];
  FoldersToCreate(work);
  LPSTR end = FileNamePart(work);
  LPSTR known = work + KnownFolderLength(work, end);
  // A drive under the previous entry's folders exists; asking again costs a
  // round trip to the mount manager for every file on some systems.
  if (known == work && IsAsciiLetter(static_cast<BYTE>(work[0])) && work[1] == ':' && !IsValidDrive(work)) {
    work[1] = '\0';
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgInvalidDrive), work);
    FatalError(Sfx.MessageBuffer);  // no such drive
  }
  for (LPSTR p = FirstFolderStart(work); p < end; p = NextChar(p)) {
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

// A UTF-8 path text as wide characters; an empty text when it cannot be
// converted, which no file or folder has as its name.
static void EntryTextToWide(LPCSTR path, LPWSTR wide) {
  if (!Utf8ToWide(path, wide, kPathBufferSize)) wide[0] = 0;
}

int PathExists(LPCSTR path, DWORD* isFolder) {
  if (Sfx.EntryUtf8) {
    WCHAR wide[kPathBufferSize];
    EntryTextToWide(path, wide);
    DWORD attributes = GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
    if (isFolder && (attributes & FILE_ATTRIBUTE_DIRECTORY)) *isFolder = FILE_ATTRIBUTE_DIRECTORY;
    return 0;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) *isFolder = FILE_ATTRIBUTE_DIRECTORY;
  FindClose(search);
  return 0;
}

int MakeFolder(LPCSTR path) {
  if (!Sfx.EntryUtf8) return CreateDirectoryA(path, nullptr) ? 0 : 1;
  WCHAR wide[kPathBufferSize];
  EntryTextToWide(path, wide);
  return CreateDirectoryW(wide, nullptr) ? 0 : 1;
}
