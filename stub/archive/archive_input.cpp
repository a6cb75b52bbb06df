// Archive input (see archive_input.h).
#include "archive/archive_input.h"

#include "archive/decryption.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_file.h"
#include "container/archive_volumes.h"
#include "container/fixed_errors.h"
#include "platform/extraction_ui.h"

// Reads up to `count` bytes of the current volume; the platform's count, or
// -1 when the read failed outright.
static LONG ReadVolume(void* buffer, UINT count) {
  UINT got = ArchiveRead(buffer, count);
  return got == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<LONG>(got);
}

void PumpWhileReading() {
  if (Sfx.MemoryMode) return;
  if (PumpMessages()) SilentAbort();  // the user confirmed the abort
}

void CountInputRead(UINT got) {
  Sfx.InputSincePump += got;
  if (Sfx.InputSincePump < kPumpInputInterval) return;
  Sfx.InputSincePump = 0;
  PumpWhileReading();
}

// Format notes: in a spanned set an entry's data may run from one volume on
// to the next, so a short read there means "next disk", not damage; the
// bytes already read are kept and the rest comes from the new volume.
UINT RefillInput() {
  uint32_t remaining = Sfx.LocalHeader.CompressedSize;  // a copy: the packed header's field may lie unaligned
  if (remaining == 0) {
    Sfx.InputAvailable = 0;
    return 0;
  }
  UINT wanted = remaining < kIoChunkSize ? remaining : kIoChunkSize;
  LONG got = ReadVolume(Sfx.InputBuffer, wanted);
  if (!Sfx.SpannedSet || got < 0) {
    if (got != static_cast<LONG>(wanted)) ReadError(2);  // the entry's data is cut short
  } else if (got < static_cast<LONG>(wanted)) {
    RequestNextDisk();
    if (got == 0) {
      got = ReadVolume(Sfx.InputBuffer, wanted);
      if (got < 0) ReadError(2);  // the next volume cannot be read
    }
  }
  Sfx.LocalHeader.CompressedSize = remaining - static_cast<uint32_t>(got);
  CountInputRead(static_cast<UINT>(got));
  Sfx.InputCursor = Sfx.InputBuffer;
  if (Sfx.EntryEncrypted) DecryptBuffer(Sfx.InputBuffer, static_cast<UINT>(got));
  if (got == 0) {
    Sfx.InputAvailable = 0;
    return 0;
  }
  Sfx.InputAvailable = got - 1;  // the caller takes the first byte at once
  return static_cast<UINT>(got);
}

void ReadExact(UINT count, LPSTR buffer) {
  if (ArchiveRead(buffer, count) != count) ReadError(1);  // the name is cut short
  buffer[count] = '\0';
}

// Bytes from the current position of the volume to its end, with the
// position left at its end; -1 when the end cannot be found.
static LONG SeekToVolumeEnd(LONG* current_ret) {
  *current_ret = ArchiveSeek(0, FILE_CURRENT);
  LONG end = ArchiveSeek(0, FILE_END);
  if (*current_ret == HFILE_ERROR || end == HFILE_ERROR) return -1;
  return end - *current_ret;
}

// Skips at most `remaining` bytes of the current volume; the bytes skipped,
// negative when the volume's end cannot be found or lies behind the position.
static LONG SkipOnVolume(DWORD remaining) {
  LONG current;
  LONG available = SeekToVolumeEnd(&current);
  if (available < 0) return available;
  if (static_cast<DWORD>(available) > remaining) {  // remaining is then below 2 GiB
    ArchiveSeek(current + static_cast<LONG>(remaining), FILE_BEGIN);
    return static_cast<LONG>(remaining);
  }
  return available;
}

void RequireBytesLeft(DWORD count) {
  LONG current;
  LONG available = SeekToVolumeEnd(&current);
  ArchiveSeek(current, FILE_BEGIN);
  if (available < 0 || count > static_cast<DWORD>(available)) ArchiveDamaged();  // a size beyond the file's end
}

void SkipRecordBytes(DWORD count) {
  LONG skipped = SkipOnVolume(count);
  if (!Sfx.SpannedSet && static_cast<DWORD>(skipped) != count) ArchiveDamaged();  // a length beyond the file's end
}

UINT SkipEntryData() {
  uint32_t remaining = Sfx.LocalHeader.CompressedSize;  // a copy: the packed header's field may lie unaligned
  if (remaining == 0) return 0;
  LONG skipped = SkipOnVolume(remaining);
  if (Sfx.SpannedSet && skipped >= 0 && static_cast<DWORD>(skipped) != remaining) {
    RequestNextDisk();
    if (skipped == 0) {  // nothing of the entry was left on the finished volume
      skipped = SkipOnVolume(remaining);
      if (skipped < 0) ReadError(2);  // the new volume's end cannot be found
    }
  } else if (static_cast<DWORD>(skipped) != remaining) {
    ReadError(2);  // the entry's data is shorter than its size
  }
  Sfx.LocalHeader.CompressedSize = remaining - static_cast<uint32_t>(skipped);
  return static_cast<UINT>(skipped);
}

int NextInputByte(WORD* out) {
  if (Sfx.InputAvailable-- <= 0 && RefillInput() == 0) return 0;
  *out = *Sfx.InputCursor++;
  return 8;
}

// Reads the encryption header. In a spanned set a short read means the
// volume ended inside it: the bytes read are kept and the rest is read from
// the start of the next disk's volume.
static void ReadEncryptionHeader(BYTE* header) {
  UINT got = ArchiveRead(header, kEncryptionHeaderSize);
  if (got == kEncryptionHeaderSize) return;
  if (!Sfx.SpannedSet || got == static_cast<UINT>(HFILE_ERROR)) ReadError(14);  // the encryption header is cut short
  RequestNextDisk();
  UINT rest = kEncryptionHeaderSize - got;
  if (ArchiveRead(header + got, rest) != rest) ReadError(14);  // the next volume is short too
}

int CheckPassword() {
  if (!Sfx.Password) return 0;
  BYTE header[kEncryptionHeaderSize];
  ReadEncryptionHeader(header);
  Sfx.LocalHeader.CompressedSize -= kEncryptionHeaderSize;
  BYTE check = Sfx.EntryHasDescriptor ? static_cast<BYTE>(Sfx.LocalHeader.ModTime >> 8)
                                      : static_cast<BYTE>(Sfx.LocalHeader.Crc32 >> 24);
  return DecryptHeader(header, check) == 0 ? 1 : 0;
}
