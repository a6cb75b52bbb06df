// Path and text helpers (see path_text.h).
#include "util/path_text.h"

#include "base/sfx_state.h"

bool IsAsciiLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

LPSTR NextChar(LPCSTR p) {
  if (!Sfx.EntryUtf8) return CharNextA(p);
  return const_cast<LPSTR>(*p ? p + 1 : p);
}

bool IsPathSeparator(int c) { return c == '\\' || c == '/'; }

bool IsMultiByteChar(LPCSTR p) { return NextChar(p) > p + 1; }

LPSTR FindChar(LPCSTR s, int c) {
  while (*s && static_cast<BYTE>(*s) != static_cast<BYTE>(c)) s = NextChar(s);
  return const_cast<LPSTR>(s);
}

LPSTR FindLastSeparator(LPCSTR s) {
  LPCSTR last = nullptr;
  for (; *s; s = NextChar(s))
    if (IsPathSeparator(static_cast<BYTE>(*s)) && !IsMultiByteChar(s)) last = s;
  return const_cast<LPSTR>(last);
}

LPSTR LastChar(LPCSTR s) {
  LPCSTR last = nullptr;
  for (; *s; s = NextChar(s)) last = s;
  return const_cast<LPSTR>(last);
}

LPSTR FileNamePart(LPCSTR s) {
  LPSTR separator = FindLastSeparator(s);
  return separator ? separator + 1 : const_cast<LPSTR>(s);
}

// Length of the root prefix that a trailing separator may not be taken from:
// two bytes for "\\\\" (UNC) or "X:" (drive), else none.
static int RootPrefixLength(LPCSTR s) {
  if (IsPathSeparator(static_cast<BYTE>(s[0])) && IsPathSeparator(static_cast<BYTE>(s[1]))) return 2;
  if (IsAsciiLetter(static_cast<BYTE>(s[0])) && s[1] == ':') return 2;
  return 0;
}

bool StripTrailingSeparator(LPSTR s) {
  LPSTR last = LastChar(s);
  if (!last || last <= s + RootPrefixLength(s)) return false;  // nothing after the root
  if (!IsPathSeparator(static_cast<BYTE>(*last)) || IsMultiByteChar(last)) return false;
  *last = '\0';
  return true;
}

void EnsureTrailingSeparator(LPSTR s) {
  LPSTR last = LastChar(s);
  if (!last || !IsPathSeparator(static_cast<BYTE>(*last))) lstrcatA(s, "\\");
}

void UseLongFileName(LPSTR s) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(s, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  lstrcpyA(FileNamePart(s), found.cFileName);
  FindClose(search);
}

void* CopyBytes(void* dst, const void* src, UINT n) {
  BYTE* d = static_cast<BYTE*>(dst);
  const BYTE* from = static_cast<const BYTE*>(src);
  while (n--) *d++ = *from++;
  return dst;
}

int BytesDiffer(const void* a, const void* b, UINT n) {
  const BYTE* x = static_cast<const BYTE*>(a);
  const BYTE* y = static_cast<const BYTE*>(b);
  for (; n; n--)
    if (*x++ != *y++) return 1;
  return 0;
}

void* FillBytes(void* p, int value, UINT n) {
  BYTE* d = static_cast<BYTE*>(p);
  while (n--) *d++ = static_cast<BYTE>(value);
  return p;
}
