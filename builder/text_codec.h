// Names and texts from the Linux side (UTF-8) in the Windows ANSI code page
// the self-extractor will see them in.
#pragma once

#include <cstdint>
#include <string>

// Converts UTF-8 text to the code page (1252 or 932); false when a character
// has no representation there.
bool Utf8ToCodePage(const std::string& utf8, unsigned codePage, std::string* out);

bool IsSupportedCodePage(unsigned codePage);

// True for a lead byte of a double-byte character in code page 932
// (0x81-0x9F, 0xE0-0xFC); the next byte belongs to the same character.
bool IsDoubleByteLead(uint8_t byte);

// A name or text from a self-extractor as UTF-8 for a terminal: as it is
// when it is valid UTF-8 (ASCII included), else read in the code page, with
// bytes the code page lacks shown as "?".
std::string ShownAsUtf8(const std::string& text, unsigned codePage);

// UTF-8 text as UTF-16LE (the resources' texts); false when it is not UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

// UTF-16LE text back as UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);
