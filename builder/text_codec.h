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
