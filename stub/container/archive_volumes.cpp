// Opening the archive and asking for disks (see archive_volumes.h).
//
// Volume labels of a spanned set read "PKBACK#", a separator ('.' or ' ')
// and the disk number in decimal, leading zeros allowed: "PKBACK# 001".
#include "container/archive_volumes.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_file.h"
#include "container/fixed_errors.h"
#include "container/message_table.h"
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
