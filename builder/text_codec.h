// Names and texts between the Linux side (UTF-8) and the code pages the
// self-extractor and the archives it wraps use.
#pragma once

#include <cstdint>
#include <string>

// Converts UTF-8 text to a Windows code page; false when a character has no
// representation there.
bool Utf8ToCodePage(const std::string& utf8, unsigned codePage, std::string* out);

// Converts text in a code page (an ANSI one, or an OEM one such as 437 or
// 866) to UTF-8; false when a byte sequence means nothing there.
bool CodePageToUtf8(const std::string& text, unsigned codePage, std::string* out);

// The Windows ANSI code pages --codepage accepts (874, 932, 936, 949, 950,
// 1250 to 1258), where this system's iconv knows them.
bool IsSupportedCodePage(unsigned codePage);

// Any code page this system's iconv knows by the name "CPn" (--zip-codepage).
bool IsKnownCodePage(unsigned codePage);

// True for a lead byte of a double-byte character in the code page (932:
// 0x81-0x9F and 0xE0-0xFC; 936, 949, 950: 0x81-0xFE); the next byte
// belongs to the same character. Always false in a single-byte code page.
bool IsDoubleByteLead(uint8_t byte, unsigned codePage);

// True when the text is well-formed UTF-8 (RFC 3629).
bool IsValidUtf8(const std::string& text);

// True when every byte is 7-bit ASCII.
bool IsPlainAscii(const std::string& text);

// A name or text from a self-extractor as UTF-8 for a terminal: as it is
// when it is valid UTF-8 (ASCII included), else read in the code page, with
// bytes the code page lacks shown as "?".
std::string ShownAsUtf8(const std::string& text, unsigned codePage);

// UTF-8 text as UTF-16LE (the resources' texts); false when it is not UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

// UTF-16LE text back as UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);

// Text read in the code page whatever it holds, as UTF-8, with bytes the
// code page lacks shown as "?".
std::string ReadInCodePage(const std::string& text, unsigned codePage);
