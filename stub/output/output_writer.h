// The output writer: the overwrite question, the output file, full
// 64 KiB blocks check-summed, counted towards the meter and written
// (or, in memory mode, left where they are in the memory target), and the
// entry's DOS date and time on the finished file.
#pragma once

#include "platform/platform.h"

// 1 to extract the entry, 0 to skip it; Cancel ends the run (code 1). A file
// that did not exist may already be made then, open as OutputFile.
int ConfirmOverwrite();

// Creates or truncates the file EntryName as OutputFile, unless
// ConfirmOverwrite made it new.
void CreateOutputFile();

// Flushes the BlockFill bytes of the current block.
void FlushBlock();

// Ends the run with the write-error message unless `written` (what the
// platform reported) is the whole block; then lets the user abort.
void CheckWrite(UINT written);

// Stamps OutputFile with the entry's date and time; returns 1.
int SetOutputFileTime();

// Moves the meter to BytesWritten in hundredths of TotalSize (when it is
// shown) and repaints it at once (platform/extraction_ui.h).
void UpdateMeter();
