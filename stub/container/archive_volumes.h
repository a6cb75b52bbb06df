// Opening the archive: our own file, or the volume file of the disk in the
// drive for a spanned set, asking for disks by volume label.
#pragma once

#include "platform/platform.h"

// Disk number returned when a disk has no usable "PKBACK#" label.
constexpr WORD kNoVolumeNumber = 0xFFFF;
// Wanted-disk value meaning "the last disk of the set".
constexpr WORD kLastDisk = 0;

// Opens ModulePath read-only, denying writes to others, as ArchiveFile;
// HeaderCorrupt when it cannot.
void OpenArchive();

// Returns once disk `wanted` is in the drive and its volume file (ModulePath
// with ".EXE" or ".ZIP") is open in ArchiveFile at its start; otherwise ends
// through SilentAbort (the user gave up) or HeaderCorrupt (no volume file).
void RequestDisk(WORD wanted, bool exeVolumes);

// The disk after the current one, when a volume ends inside a record or
// an entry's data.
void RequestNextDisk();

// Disk number in the volume label of `drive` ("A:"), or kNoVolumeNumber.
WORD ReadVolumeNumber(LPCSTR drive);
