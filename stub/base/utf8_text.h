// UTF-8 entry names: strict validation and conversion to the wide
// characters the platform's wide API takes.
//
// An entry whose general-purpose flag bit 11 is set carries its name in
// UTF-8 (RFC 3629). The stub keeps such a name as UTF-8 bytes while it
// checks and joins it, since every byte of a multi-byte UTF-8 sequence is
// 0x80 or above and so never looks like '/', '\\', ':' or '.', and converts
// it to wide characters only at the platform's door (file and folder
// creation, message boxes, the status line). While an entry's name is UTF-8
// (Sfx.EntryUtf8), every path text built for it is UTF-8 too, the
// destination folder included.
//
// Sizes: the path texts of an entry are kEntryTextSize bytes (sfx_state.h).
#pragma once

#include "platform/platform.h"

// Whether text is well-formed UTF-8 as RFC 3629 defines it: no overlong
// forms (C0 AF for '/', C0 AE for '.'), no encoded surrogates, nothing
// above U+10FFFF, no stray continuation bytes and no cut-off sequence.
// Only well-formed names reach the checks and the platform, so that no
// decoder can read a byte sequence as a character the checks did not see.
bool IsStrictUtf8(LPCSTR text);

// The length of strict UTF-8 text in UTF-16 units, as Windows counts path
// lengths: one per character, two for one above U+FFFF.
UINT Utf16Length(LPCSTR utf8);

// UTF-8 text as wide characters in wide (room for `units` of them, the NUL
// included); false when it does not fit or cannot be converted.
bool Utf8ToWide(LPCSTR utf8, LPWSTR wide, int units);

// ANSI text (the system code page) as UTF-8 in utf8 (room for `bytes`);
// false when it does not fit or cannot be converted.
bool AnsiToUtf8(LPCSTR ansi, LPSTR utf8, int bytes);

// The length of a path text of the current entry in the units its length
// limit counts: UTF-16 units for a UTF-8 entry, bytes for an ANSI one.
UINT EntryTextLength(LPCSTR text);
