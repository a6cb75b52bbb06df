// Archive input and disk spanning (see archive_input.h).
//
// Volume labels of a spanned set read "PKBACK#", a separator ('.' or ' ')
// and the disk number in decimal, leading zeros allowed: "PKBACK# 001".
#include "archive/archive_input.h"

#include "container/archive_file.h"
#include "container/message_table.h"
#include "archive/decryption.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "ui/extraction_ui.h"
#include "util/path_text.h"

static const char kVolumeLabelPrefix[] = "PKBACK#";
constexpr UINT kVolumeLabelPrefixLength = 7;
constexpr DWORD kVolumeLabelBufferSize = 32;
static const char kExeVolumeExtension[] = ".EXE";
static const char kZipVolumeExtension[] = ".ZIP";

static HFILE OpenForReading(LPCSTR path) { return _lopen(path, OF_READ | OF_SHARE_DENY_WRITE); }

void OpenArchive() {
  Sfx.ArchiveFile = OpenForReading(Sfx.ModulePath);
  if (Sfx.ArchiveFile == HFILE_ERROR) HeaderCorrupt();  // our own file cannot be read
  ResetArchivePosition();
}

static bool IsDigit(CHAR c) { return c >= '0' && c <= '9'; }

WORD ReadVolumeNumber(LPCSTR drive) {
  CHAR root[4] = {drive[0], drive[1], '\\', '\0'};
  CHAR label[kVolumeLabelBufferSize + 1];
  FillBytes(label, 0, sizeof label);
  if (!GetVolumeInformationA(root, label, kVolumeLabelBufferSize, nullptr, nullptr, nullptr,
                             nullptr, 0))
    return kNoVolumeNumber;
  if (BytesDiffer(label, kVolumeLabelPrefix, kVolumeLabelPrefixLength)) return kNoVolumeNumber;
  // The label is NUL-terminated within the buffer, so no scan below can run past it.
  const CHAR* p = label;
  while (*p && *p != '.' && *p != ' ') p++;
  if (!*p) return kNoVolumeNumber;  // no separator before the number
  while (*p && !IsDigit(*p)) p++;
  WORD number = 0;
  for (; IsDigit(*p); p++) number = static_cast<WORD>(number * 10 + (*p - '0'));
  return number;
}

// Asks for a disk whose label is missing or wrong until one is accepted;
// returns its number.
static WORD AskForLabelledDisk(WORD wanted, LPCSTR drive) {
  WORD number = ReadVolumeNumber(drive);
  while (number == kNoVolumeNumber) {
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgBadDiskLabel), wanted);
    int answer = ShowMessage(Sfx.MessageBuffer, MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
    if (answer == IDABORT) SilentAbort();  // the user gave up on the disk
    number = (answer == IDIGNORE) ? wanted : ReadVolumeNumber(drive);
  }
  return number;
}

void RequestDisk(WORD wanted, bool exeVolumes) {
  if (Sfx.ArchiveFile) {
    _lclose(Sfx.ArchiveFile);
    Sfx.ArchiveFile = 0;
  }
  CHAR drive[3] = {Sfx.ModulePath[0], ':', '\0'};
  for (;;) {
    WORD number = AskForLabelledDisk(wanted, drive);
    Sfx.CurrentDisk = number;
    if (number == wanted) break;
    if (wanted == kLastDisk)
      wsprintfA(Sfx.MessageBuffer, MsgText(MsgInsertLastDisk), drive);
    else
      wsprintfA(Sfx.MessageBuffer, MsgText(MsgInsertDisk), wanted, drive);
    if (!ConfirmOkCancel(Sfx.MessageBuffer)) SilentAbort();  // the user refused the disk
  }
  // Room for an extension appended to a full-length path without one.
  CHAR volumePath[kPathBufferSize + sizeof kExeVolumeExtension];
  lstrcpyA(volumePath, Sfx.ModulePath);
  CHAR* name = FileNamePart(volumePath);
  CHAR* dot = name + lstrlenA(name);
  while (dot > name && *dot != '.') dot--;
  if (*dot != '.') dot = name + lstrlenA(name);  // a name without extension gets one appended
  lstrcpyA(dot, exeVolumes ? kExeVolumeExtension : kZipVolumeExtension);
  Sfx.ArchiveFile = OpenForReading(volumePath);
  if (Sfx.ArchiveFile == HFILE_ERROR) HeaderCorrupt();  // the disk holds no volume file
  ResetArchivePosition();
}

void RequestNextDisk() { RequestDisk(static_cast<WORD>(Sfx.CurrentDisk + 1), Sfx.ExeOnFirstDisk != 0); }

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
