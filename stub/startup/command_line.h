// The self-extractor's command line.
#pragma once

#include "platform/platform.h"

// The tail of a full command line: what follows the program name. A quoted
// program name ends at its closing quote (the tail starts with the blank after
// it), an unquoted one at the first blank; without either the tail is empty.
LPSTR CommandTail(LPSTR commandLine);

// True when the five bytes "-info" occur anywhere in the tail (exact case).
bool TailAsksForInfo(LPCSTR tail);

// Applies "AUTO [folder]" or "NOAUTO" after the first '-' or '/' of the tail
// to Unattended and TargetFolder; upper-cases the option word in place.
void ParseCommandLine(LPSTR tail);
