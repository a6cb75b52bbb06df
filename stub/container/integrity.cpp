// Integrity checks (see integrity.h).
//
// PE format notes: the DOS header holds at offset 60 (e_lfanew) the file
// offset of the image header: the "PE\0\0" signature, the 20-byte file header
// and the optional header with its 16 data directories (224 bytes in PE32,
// 240 in PE32+), 248 or 264 bytes in all; AddressOfEntryPoint lies 40 bytes
// into them in both. The section table follows, and the builder adds the
// payload section to it, which is why the CRC range that skips the headers
// still covers the table.
#include "container/integrity.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_file.h"
#include "container/fixed_errors.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "util/crc32.h"
#include "util/path_text.h"

static DWORD ReadU32(const BYTE* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

DWORD ImageHeaderSize(const BYTE* header) {
  WORD magic = header[kOptionalMagicOffsetInHeader] | (header[kOptionalMagicOffsetInHeader + 1] << 8);
  return magic == kPe32PlusMagic ? kPe32PlusImageHeaderSize : kPe32ImageHeaderSize;
}

LONG FindSfxMarker(const BYTE* image, DWORD size, const BYTE* marker) {
  if (size < kSfxMarkerSize) return -1;
  for (DWORD p = 0; p <= size - kSfxMarkerSize; p++)
    if (image[p] == marker[0] && !BytesDiffer(image + p, marker, kSfxMarkerSize))
      return static_cast<LONG>(p);
  return -1;
}

bool ComputeStubCrc(BYTE* imageCopy, DWORD archiveOffset, bool afterHeaders,
                    const BYTE* marker, uint32_t* crc_ret) {
  LONG at = FindSfxMarker(imageCopy, archiveOffset, marker);
  if (at < 0 || static_cast<DWORD>(at) + SfxConfigOffset::StubCrc + 4 > archiveOffset)
    return false;  // no record in the stub part
  FillBytes(imageCopy + at + SfxConfigOffset::StubCrc, 0, 4);
  DWORD start = 0;
  if (afterHeaders) {
    if (archiveOffset < kDosHeaderSize) return false;
    DWORD header = ReadU32(imageCopy + kLfanewOffset);
    // A header that would start the range beyond its end cannot be checked.
    if (header > archiveOffset - kEntryPointOffsetInHeader) return false;
    start = header + ImageHeaderSize(imageCopy + header);
    if (start > archiveOffset) return false;
  }
  Sfx.RunningCrc = kCrcPreset;
  UpdateCrc(imageCopy + start, archiveOffset - start);
  *crc_ret = ~Sfx.RunningCrc;
  return true;
}

void VerifyStubCrc() {
  const SfxConfigRecord* config = Sfx.Config;
  DWORD size = config->ArchiveOffset;
  // The offset comes from the file: held against the file's real size before
  // that many bytes are allocated for the copy.
  LONG fileSize = ArchiveSeek(0, FILE_END);
  if (fileSize < 0 || size > static_cast<DWORD>(fileSize)) HeaderCorrupt();  // the stub part cannot be there
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  BYTE* copy = handle ? static_cast<BYTE*>(GlobalLock(handle)) : nullptr;
  if (!copy) HeaderCorrupt();  // no memory for the copy
  if (ArchiveSeek(0, FILE_BEGIN) != 0 || size == 0) HeaderCorrupt();
  if (ArchiveRead(copy, size) != size) HeaderCorrupt();  // file shorter than the stub part
  uint32_t crc;
  bool afterHeaders = (config->SfxFlags & SfxFlag::CrcAfterHeaders) != 0;
  if (!ComputeStubCrc(copy, size, afterHeaders, config->SfxMarker, &crc)) HeaderCorrupt();
  if (crc != config->StubCrc) HeaderCorrupt();  // the stub part was altered
  GlobalUnlock(handle);
  GlobalFree(handle);
}

void VerifyEndRecord() {
  const SfxConfigRecord* config = Sfx.Config;
  if (Sfx.SpannedSet || config->EndRecordOffset == 0) return;
  // The offset comes from the file: it must leave room for a signature
  // inside it (0xFFFFFFFF would also read as the seek's own failure value).
  DWORD offset = config->EndRecordOffset;
  LONG fileSize = ArchiveSeek(0, FILE_END);
  BYTE signature[4];
  bool intact = fileSize >= 4 && offset <= static_cast<DWORD>(fileSize) - 4 &&
                ArchiveSeek(static_cast<LONG>(offset), FILE_BEGIN) == static_cast<LONG>(offset) &&
                ArchiveRead(signature, 4) == 4 &&
                (!BytesDiffer(signature, Sfx.EndOfCentralSig, 4) ||
                 !BytesDiffer(signature, Sfx.DigitalSignatureSig, 4));
  if (!intact) FatalError(MsgText(MsgZipDamaged));  // the file was cut or changed
}

bool VerifyEntryPoint() {
  HGLOBAL handle = GlobalAlloc(GHND, kDosHeaderSize);
  BYTE* header = handle ? static_cast<BYTE*>(GlobalLock(handle)) : nullptr;
  if (!header) return false;
  HFILE file = _lopen(Sfx.ModulePath, OF_READ | OF_SHARE_DENY_NONE);
  if (file == HFILE_ERROR) return false;
  bool matches = false;
  if (_lread(file, header, kDosHeaderSize) == kDosHeaderSize) {
    LONG lfanew = static_cast<LONG>(ReadU32(header + kLfanewOffset));
    matches = _llseek(file, lfanew, FILE_BEGIN) == lfanew &&
              _lread(file, header, kEntryPointOffsetInHeader + 4) == kEntryPointOffsetInHeader + 4 &&
              ReadU32(header + kEntryPointOffsetInHeader) == Sfx.Config->EntryPointRva;
  }
  _lclose(file);
  if (matches) {
    GlobalUnlock(handle);
    GlobalFree(handle);
  }
  return matches;
}
