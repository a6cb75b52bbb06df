// The self-extractor's own file (or the current volume of a spanned set),
// read through a 64 KiB read-ahead block.
//
// An archive of many small entries is mostly records: a local header, a
// name, an extra field, a few bytes of data, the next header. Read one
// field at a time, each would be a system call of its own (a server round
// trip under Wine, a pass through the file system's filters on Windows).
// Through the read-ahead block a run of records costs one read of 64 KiB.
// Reads of a block or more go straight into the caller's buffer.
//
// Every read and seek of Sfx.ArchiveFile goes through these, so that the
// position they keep is the one the code sees; the contracts are _lread's
// and _llseek's (a short read at the end of the file, HFILE_ERROR on
// failure).
#pragma once

#include "platform/platform.h"

// A file just opened as Sfx.ArchiveFile: at its start, nothing read ahead.
void ResetArchivePosition();

// Reads up to `count` bytes at the position; the bytes read, or HFILE_ERROR.
UINT ArchiveRead(void* buffer, UINT count);

// Moves the position as _llseek does; the new position, or HFILE_ERROR.
LONG ArchiveSeek(LONG offset, int origin);
