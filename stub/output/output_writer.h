// The output writer: full 2,048-byte blocks of extracted data are
// check-summed and written to OutputFile (or, in memory mode, left where
// they are in the memory target).
#pragma once

#include "platform/platform.h"

// Flushes the BlockFill bytes of the current block.
void FlushBlock();

// Ends the run with the write-error message unless `written` (what the
// platform reported) is the whole block.
void CheckWrite(UINT written);
