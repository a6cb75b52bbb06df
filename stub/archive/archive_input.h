// Archive input: the current entry's data, record parts and skips, read
// forward from ArchiveFile (which container/archive_volumes.h opens, and
// moves on to the next disk of a spanned set), with the user's messages
// looked at while it is read.
#pragma once

#include "platform/platform.h"

// Reads the next chunk of the current entry's data into InputBuffer; the
// number of bytes read, 0 when the data is exhausted.
UINT RefillInput();

// Looks at the messages while input is consumed, which output alone would
// not do for as long as a stream decodes to nothing or records come without
// data; a confirmed abort ends the run silently. Called by CountInputRead
// and by the decoder every few blocks. Memory-mode decoding (start-up
// texts, the password dialog's template) pumps nothing.
void PumpWhileReading();

// Counts `got` bytes read from the archive (entry data, record headers) and
// looks at the messages after every kPumpInputInterval of them.
void CountInputRead(UINT got);

// Delivers the next byte of the input into *out (zero-extended) and returns
// 8, or returns 0 and leaves *out alone when the input is exhausted. Memory
// users point InputCursor at their bytes and set InputAvailable to their
// count; those bytes are handed out first.
int NextInputByte(WORD* out);

// Reads exactly `count` bytes into buffer, bypassing InputBuffer, and ends
// them with a NUL (buffer holds count + 1 bytes); ReadError(1) when short.
void ReadExact(UINT count, LPSTR buffer);

// Sizes and offsets in a record are untrusted: each is taken as unsigned and
// checked against what is left of the file (or the volume) before the walk
// moves by it, so that the walk only ever moves forward.

// Ends the run with the damaged-archive message unless `count` bytes lie
// between the current position and the end of the archive file. Only for an
// archive that is not spanned, where nothing runs on to another disk.
void RequireBytesLeft(DWORD count);

// Skips `count` bytes of a record part whose length a record gives (an
// extra field, a comment, a data descriptor). Past the end of the file the
// archive is damaged; in a spanned set the skip stops at the volume's end,
// where the next read asks for the next disk.
void SkipRecordBytes(DWORD count);

// Skips the current entry's data on the current volume (asking for the
// next disk of a spanned set when it runs on); the bytes skipped by this
// call, 0 when nothing is left. Callers repeat it until it returns 0.
UINT SkipEntryData();

// 1 when the current entry opens with Password, 0 when there is no password
// or the check byte differs. Reads the encryption header from ArchiveFile,
// which must stand at the entry's data, and takes it off the entry's size.
// Format notes: the 12 header bytes are the first bytes of the entry's
// data, so in a spanned set they may run from one volume on to the next
// like any other data.
int CheckPassword();
