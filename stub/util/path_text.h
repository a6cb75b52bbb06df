// Multi-byte-aware path and text helpers.
//
// Texts are NUL-terminated ANSI strings in the system code page, which may
// have double-byte characters: they are stepped with CharNextA, so a trail
// byte of value 0x5C is never taken for a backslash. While the current
// entry's name is UTF-8 (Sfx.EntryUtf8, see utf8_text.h) the path texts
// are UTF-8 and are stepped byte by byte: no byte of a multi-byte UTF-8
// character is below 0x80, so none is taken for a separator. Both '\\' and '/' are
// path separators everywhere. None of these helpers allocates, fails or
// checks bounds: callers check room before they call.
#pragma once

#include "platform/platform.h"

bool IsAsciiLetter(int c);

// The next character of a path text, as described above; p itself at the NUL.
LPSTR NextChar(LPCSTR p);
bool IsPathSeparator(int c);

// True when the character at p is longer than one byte (false at the NUL).
bool IsMultiByteChar(LPCSTR p);

// First character whose first byte is c, or the terminating NUL.
LPSTR FindChar(LPCSTR s, int c);

// Last single-byte separator, or null when there is none.
LPSTR FindLastSeparator(LPCSTR s);

// First byte of the last character, or null for the empty string.
LPSTR LastChar(LPCSTR s);

// Just after the last separator, or s itself.
LPSTR FileNamePart(LPCSTR s);

// Removes one trailing separator unless it belongs to the root prefix (a
// drive "X:" or the two separators of a UNC name); true when one was removed.
bool StripTrailingSeparator(LPSTR s);

// Appends "\\" when s is empty or does not end in a separator. s needs room
// for one more byte.
void EnsureTrailingSeparator(LPSTR s);

// Replaces the file-name part of the existing file s by its long name as
// stored on disk; leaves s unchanged when the file is not found.
void UseLongFileName(LPSTR s);

// Plain byte operations, lowest address first.
void* CopyBytes(void* dst, const void* src, UINT n);
int BytesDiffer(const void* a, const void* b, UINT n);  // 0 equal, 1 different
void* FillBytes(void* p, int value, UINT n);
