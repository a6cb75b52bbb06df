// The self-extractor's file through a read-ahead block (see archive_file.h).
//
// State: ArchivePosition is where the next read starts, as the code sees
// it; FilePosition is where the system's file pointer stands (-1 when not
// known), so that a seek is made only when the two differ; the read-ahead
// block holds ReadAheadLength bytes of the file from ReadAheadAt on. The
// block exists once the I/O buffers are allocated; before that (the stub
// CRC's one large read) every read goes straight to the file.
#include "container/archive_file.h"

#include "base/sfx_state.h"
#include "util/path_text.h"

constexpr LONG kUnknownPosition = -1;

void ResetArchivePosition() {
  Sfx.ArchivePosition = Sfx.FilePosition = 0;
  Sfx.ReadAheadLength = 0;
}

// Reads at ArchivePosition straight into buffer, moving the file pointer
// there first if it stands elsewhere.
static UINT ReadDirect(void* buffer, UINT count) {
  if (Sfx.FilePosition != Sfx.ArchivePosition) {
    if (_llseek(Sfx.ArchiveFile, Sfx.ArchivePosition, FILE_BEGIN) != Sfx.ArchivePosition) {
      Sfx.FilePosition = kUnknownPosition;
      return static_cast<UINT>(HFILE_ERROR);
    }
    Sfx.FilePosition = Sfx.ArchivePosition;
  }
  UINT got = _lread(Sfx.ArchiveFile, buffer, count);
  if (got == static_cast<UINT>(HFILE_ERROR)) {
    Sfx.FilePosition = kUnknownPosition;
    return got;
  }
  Sfx.FilePosition += static_cast<LONG>(got);
  Sfx.ArchivePosition += static_cast<LONG>(got);
  return got;
}

// Bytes of the read-ahead block from ArchivePosition on (0 when the
// position lies outside it).
static UINT ReadAheadAvailable() {
  LONG offset = Sfx.ArchivePosition - Sfx.ReadAheadAt;
  if (offset < 0 || static_cast<UINT>(offset) >= Sfx.ReadAheadLength) return 0;
  return Sfx.ReadAheadLength - static_cast<UINT>(offset);
}

// Fills the read-ahead block from ArchivePosition on; false on a failed read.
static bool FillReadAhead() {
  Sfx.ReadAheadLength = 0;
  Sfx.ReadAheadAt = Sfx.ArchivePosition;
  UINT got = ReadDirect(Sfx.ReadAhead, kIoChunkSize);
  Sfx.ArchivePosition = Sfx.ReadAheadAt;  // nothing is taken from the block yet
  if (got == static_cast<UINT>(HFILE_ERROR)) return false;
  Sfx.ReadAheadLength = got;
  return true;
}

UINT ArchiveRead(void* buffer, UINT count) {
  BYTE* to = static_cast<BYTE*>(buffer);
  UINT done = 0;
  while (done < count) {
    UINT available = ReadAheadAvailable();
    if (available) {
      UINT piece = available < count - done ? available : count - done;
      CopyBytes(to + done, Sfx.ReadAhead + (Sfx.ArchivePosition - Sfx.ReadAheadAt), piece);
      Sfx.ArchivePosition += static_cast<LONG>(piece);
      done += piece;
      continue;
    }
    if (!Sfx.ReadAhead || count - done >= kIoChunkSize) {  // a block or more: no copy through the block
      UINT got = ReadDirect(to + done, count - done);
      if (got == static_cast<UINT>(HFILE_ERROR)) return done ? done : got;
      return done + got;
    }
    if (!FillReadAhead()) return done ? done : static_cast<UINT>(HFILE_ERROR);
    if (Sfx.ReadAheadLength == 0) break;  // the end of the file
  }
  return done;
}

LONG ArchiveSeek(LONG offset, int origin) {
  LONG base = Sfx.ArchivePosition;
  if (origin == FILE_BEGIN) {
    base = 0;
  } else if (origin == FILE_END) {
    base = _llseek(Sfx.ArchiveFile, 0, FILE_END);
    Sfx.FilePosition = base;
    if (base == HFILE_ERROR) return HFILE_ERROR;
  }
  if (offset < 0 && base + offset < 0) return HFILE_ERROR;  // before the start, as the system refuses it
  Sfx.ArchivePosition = base + offset;
  return Sfx.ArchivePosition;
}
