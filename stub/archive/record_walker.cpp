// Extraction runs and the ZIP record walker (see record_walker.h).
//
// Format notes: everything the walk needs about an entry comes from its
// local header; the central directory is skipped unread. An entry written
// with a data descriptor (flag bit 3) is followed by 16 descriptor bytes
// (signature, CRC-32, sizes) that are skipped, and its local header must
// carry the real CRC and sizes (the builder fills them in). In a spanned
// set a record never straddles two volumes: a short read of a signature or
// a header means the record starts on the next disk, and it is read again
// from there whole.
//
// Trust: every record comes from the archive. Name lengths are checked
// against the 200-byte limit before the name is read, and the name against
// IsSafeEntryName before anything is made for it; a name marked UTF-8 (flag
// bit 11) must be strictly well-formed UTF-8 first, so that the checks see
// every character the wide API will. Every other length and
// size is unsigned and checked against what is left of the file before the
// walk moves by it (archive_input.h), so the walk only moves forward: a
// compressed size that, read as a signed number, points back at its own
// record is simply larger than the file.
#include "archive/record_walker.h"

#include "archive/archive_input.h"
#include "archive/entry_extraction.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "base/utf8_text.h"
#include "container/archive_file.h"
#include "container/archive_volumes.h"
#include "container/fixed_errors.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "output/output_writer.h"
#include "util/path_text.h"

// Reads a fixed-size record part; in a spanned set a short read asks for
// the next disk and reads it all again there. Records count as input read,
// so that a long run of records without data still lets the user abort.
static void ReadRecordPart(void* buffer, UINT size, int errorUnspanned, int errorSpanned) {
  CountInputRead(size);
  if (ArchiveRead(buffer, size) == size) return;
  if (!Sfx.SpannedSet) ReadError(errorUnspanned);  // the archive ends inside a record
  RequestNextDisk();
  if (ArchiveRead(buffer, size) != size) ReadError(errorSpanned);
}

[[noreturn]] static void InvalidHeader() { FatalError(MsgText(MsgInvalidHeader)); }

[[noreturn]] static void NameTooLong() { FatalError(MsgText(MsgNameTooLong)); }

static bool SignatureIs(const BYTE* read, const CHAR* signature) { return !BytesDiffer(read, signature, kSignatureSize); }

void WalkArchive() {
  for (;;) {
    BYTE signature[kSignatureSize];
    ReadRecordPart(signature, kSignatureSize, 9, 8);
    if (SignatureIs(signature, Sfx.LocalHeaderSig)) {
      ProcessLocalEntry();
    } else if (SignatureIs(signature, Sfx.SpanningSig)) {
      if (!Sfx.SpannedSet) InvalidHeader();  // a spanning mark in a single archive
    } else if (SignatureIs(signature, Sfx.CentralHeaderSig)) {
      if (Sfx.SpannedSet) return;  // the central directory of a set lies on its last disk
      SkipCentralHeader();
    } else if (SignatureIs(signature, Sfx.EndOfCentralSig) || SignatureIs(signature, Sfx.DigitalSignatureSig)) {
      ReadEndRecord();
      return;
    } else if (!SignatureIs(signature, Sfx.SpanMarkerSig) && !Sfx.SpannedSet) {
      InvalidHeader();  // not a record this walk knows
    }
  }
}

// Windows versions whose GetVersion sets the top bit (Windows 3.1 with
// Win32s, 95, 98, Me) have no wide-character file API.
constexpr DWORD kVersionWithoutWideApi = 0x80000000;

// Reports an unsafe name before anything is made for it. A name marked
// UTF-8 that is not well-formed is unsafe (shown byte for byte).
static void RefuseUnsafeName() {
  if (Sfx.EntryUtf8 && !IsStrictUtf8(Sfx.EntryName))
    Sfx.EntryUtf8 = 0;  // overlong forms, surrogates, stray or missing bytes
  else if (IsSafeEntryName(Sfx.EntryName))
    return;
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgUnsafeName), Sfx.EntryName);
  FatalError(Sfx.MessageBuffer);  // the name leads outside the destination folder
}

// Skips the entry's data, on to the next disks of a spanned set.
static void SkipUnextractedData() {
  while (SkipEntryData()) {
  }
}

// Format notes: in an archive on one volume the entry's data, and its data
// descriptor, must lie before the file's end; a spanned set's data may run
// on to the next disk, which only reading it can tell, but no entry can be
// larger than a file the platform can address (offsets are signed 32-bit).
static void CheckEntrySizes() {
  constexpr DWORD kLargestFile = 0x7FFFFFFF;
  DWORD size = Sfx.LocalHeader.CompressedSize;
  if (size > kLargestFile) ArchiveDamaged();  // larger than any file: read as signed, it would point back
  if (!Sfx.SpannedSet) RequireBytesLeft(size + (Sfx.EntryHasDescriptor ? kDataDescriptorSize : 0));
}

static void ProcessFolderEntry() {
  lstrcpyA(Sfx.EntryPath, Sfx.EntryName);
  CreateEntryFolders();
  if (Sfx.LocalHeader.UncompressedSize == 0) SkipUnextractedData();
}

static void ProcessFileEntry() {
  lstrcpyA(Sfx.EntryPath, Sfx.EntryName);
  BuildEntryPath();
  CreateEntryFolders();
  if (!ConfirmOverwrite()) {
    SkipUnextractedData();
    return;
  }
  // An encrypted entry's data begins with the 12-byte encryption header.
  if (Sfx.EntryEncrypted && Sfx.LocalHeader.CompressedSize < kEncryptionHeaderSize)
    ArchiveDamaged();  // too short for its own encryption header
  if (Sfx.EntryEncrypted && !CheckPassword())
    FatalError(MsgText(Sfx.Password ? MsgWrongPassword : MsgNoPassword));  // the entry cannot be opened
  ExtractEntry();
}

void ProcessLocalEntry() {
  LocalFileHeader& header = Sfx.LocalHeader;
  ReadRecordPart(&header, sizeof header, 4, 3);
  Sfx.EntryEncrypted = (header.Flags & kFlagEncrypted) ? 1 : 0;
  Sfx.EntryHasDescriptor = (header.Flags & kFlagDataDescriptor) ? 1 : 0;
  if (header.NameLength > kMaxEntryNameLength) NameTooLong();
  ReadExact(header.NameLength, Sfx.EntryName);
  SkipRecordBytes(header.ExtraLength);
  Sfx.EntryUtf8 = (header.Flags & kFlagNameInUtf8) ? 1 : 0;
  RefuseUnsafeName();
  if (Sfx.EntryUtf8 && (Sfx.PlatformVersion & kVersionWithoutWideApi)) {
    Sfx.EntryUtf8 = 0;  // the box, too, goes through the ANSI API there
    FatalError(MsgText(MsgNoWideNames));  // the name can only be made through the wide API
  }
  CheckEntrySizes();
  LPSTR last = LastChar(Sfx.EntryName);
  if (last && IsPathSeparator(static_cast<BYTE>(*last)) && !IsMultiByteChar(last))
    ProcessFolderEntry();
  else
    ProcessFileEntry();
  if (Sfx.EntryHasDescriptor) SkipRecordBytes(kDataDescriptorSize);
}

void SkipCentralHeader() {
  BYTE fixed[kCentralHeaderFixedSize];
  if (ArchiveRead(fixed, sizeof fixed) != sizeof fixed) ReadError(6);  // cut inside the directory
  UINT nameLength = fixed[kCentralNameLengthAt] | fixed[kCentralNameLengthAt + 1] << 8;
  UINT extraLength = fixed[kCentralExtraLengthAt] | fixed[kCentralExtraLengthAt + 1] << 8;
  UINT commentLength = fixed[kCentralCommentLengthAt] | fixed[kCentralCommentLengthAt + 1] << 8;
  if (nameLength > kMaxEntryNameLength) NameTooLong();
  ReadExact(nameLength, Sfx.EntryName);
  SkipRecordBytes(extraLength + commentLength);
}

void ReadEndRecord() {
  BYTE fixed[kEndRecordFixedSize];
  if (ArchiveRead(fixed, sizeof fixed) != sizeof fixed) ReadError(7);  // cut inside the end record
  // Nothing is read after the end record, so a comment that runs past the
  // file's end harms nothing: the position may go there unchecked.
  ArchiveSeek(fixed[kEndCommentLengthAt] | fixed[kEndCommentLengthAt + 1] << 8, FILE_CURRENT);
}

// Positions the archive at its first record: disk 1 of a spanned set, and
// ArchiveOffset unless the set's volumes are plain ".ZIP" files.
static void PositionArchive() {
  if (Sfx.SpannedSet) RequestDisk(1, Sfx.ExeOnFirstDisk != 0);
  if (!Sfx.SpannedSet || Sfx.ExeOnFirstDisk) {
    LONG offset = static_cast<LONG>(Sfx.Config->ArchiveOffset);
    if (ArchiveSeek(offset, FILE_BEGIN) != offset) FatalError(MsgText(MsgIoError));
  }
}

int RunExtraction() {
  Sfx.ExtractionActive = 1;
  Sfx.KnownFolders[0] = '\0';
  jmp_buf* outer = Sfx.ActiveRecovery;
  int code = RecoveryPoint(Sfx.RunRecovery);
  SetCursor(Sfx.BusyCursor);
  if (code == 0) {
    PositionArchive();
    WalkArchive();
  } else if (Sfx.OutputFile) {
    _lclose(Sfx.OutputFile);  // the partly written file stays, undated
    Sfx.OutputFile = 0;
  }
  SetCursor(Sfx.NormalCursor);
  Sfx.EntryUtf8 = 0;  // path texts outside a run are ANSI
  Sfx.ExtractionActive = 0;
  Sfx.ActiveRecovery = outer;
  return code;
}
