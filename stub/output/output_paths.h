// Destination paths and folders: entry names become paths under the
// destination folder, and every folder on the way is created.
#pragma once

#include "platform/platform.h"

// False when the entry name could lead outside the destination folder: a
// ".." component, a ':' anywhere (a drive prefix, or an alternate data
// stream on Windows), a name that is absolute even after its one leading
// separator is dropped, a component that names a device (CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM1-9, LPT1-9 and COM/LPT with a superscript digit,
// with or without blanks and an extension), or a component ending in a dot
// or a blank (but for a lone "."), which Windows would open under another
// name; an empty name, which names the destination folder itself; in a
// double-byte code page, a lead byte followed by a byte below 0x40, which is
// no character and may hide a colon, a dot or a separator. A UTF-8 name
// (Sfx.EntryUtf8, already checked to be well-formed) must also pass with its
// full-width forms folded to ASCII, as Windows' best-fit conversion to ANSI
// folds them ("．．" is ".." there).
bool IsSafeEntryName(LPCSTR name);

// Joins TargetFolder and EntryName into EntryName (separators become '\\').
int BuildEntryPath();

// Creates the folders of EntryName (for a folder entry, of TargetFolder
// joined with it), each that does not exist yet.
int CreateEntryFolders();

// Whether the drive named by the first character of path exists.
bool IsValidDrive(LPCSTR path);

// 0 when a file or folder `path` exists, 1 when none does; *isFolder (when
// given) becomes FILE_ATTRIBUTE_DIRECTORY for a folder. While the current
// entry's name is UTF-8 (Sfx.EntryUtf8), path is UTF-8 and is looked up
// through the wide API, as MakeFolder creates it.
int PathExists(LPCSTR path, DWORD* isFolder = nullptr);

// 0 when the folder was created, 1 otherwise.
int MakeFolder(LPCSTR path);
