// UTF-8 entry names (see utf8_text.h).
#include "base/utf8_text.h"

#include "base/sfx_state.h"

static bool IsContinuation(BYTE b) { return (b & 0xC0) == 0x80; }

// Format notes (RFC 3629, section 4): the second byte's range depends on
// the first. E0 must be followed by A0-BF (below is overlong), ED by 80-9F
// (above are the surrogates D800-DFFF), F0 by 90-BF (overlong below), F4
// by 80-8F (above U+10FFFF); C0, C1 and F5-FF never occur.
static UINT SequenceLength(const BYTE* p) {
  BYTE lead = p[0], second = p[1];
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;  // a continuation byte, or an overlong two-byte form
  if (lead < 0xE0) return IsContinuation(second) ? 2 : 0;
  BYTE low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  BYTE high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (lead > 0xF4 || second < low || second > high) return 0;
  if (!IsContinuation(p[2])) return 0;
  if (lead < 0xF0) return 3;
  return IsContinuation(p[3]) ? 4 : 0;
}

bool IsStrictUtf8(LPCSTR text) {
  // A NUL ends the text, and is no continuation byte, so no sequence is
  // read past it.
  for (const BYTE* p = reinterpret_cast<const BYTE*>(text); *p;) {
    UINT length = SequenceLength(p);
    if (!length) return false;
    p += length;
  }
  return true;
}

UINT Utf16Length(LPCSTR utf8) {
  UINT units = 0;
  for (const BYTE* p = reinterpret_cast<const BYTE*>(utf8); *p; p++) {
    if (!IsContinuation(*p)) units++;
    if (*p >= 0xF0) units++;  // a character above U+FFFF: a surrogate pair
  }
  return units;
}

bool Utf8ToWide(LPCSTR utf8, LPWSTR wide, int units) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, units) > 0;
}

bool AnsiToUtf8(LPCSTR ansi, LPSTR utf8, int bytes) {
  WCHAR wide[kPathBufferSize];
  if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kPathBufferSize) <= 0) return false;
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, bytes, nullptr, nullptr) > 0;
}

UINT EntryTextLength(LPCSTR text) {
  return Sfx.EntryUtf8 ? Utf16Length(text) : static_cast<UINT>(lstrlenA(text));
}
