// Names and texts from the Linux side (UTF-8) in the Windows ANSI code page
// the self-extractor will see them in.
#pragma once

#include <string>

// Converts UTF-8 text to the code page (1252 or 932); false when a character
// has no representation there.
bool Utf8ToCodePage(const std::string& utf8, unsigned codePage, std::string* out);

bool IsSupportedCodePage(unsigned codePage);
