// The configuration record (SfxConfig) and the flags word: the contract
// between dravik-sfx, which fills the record in on disk, and the stub, which
// reads it from its own image. Shared by both builds, so it uses only
// fixed-width types and no platform header.
//
// Layout of the file the builder writes:
//   stub image (headers, code, data holding the record; no resources)
//   section ".rsrc", added by the builder: the manifest, and the publisher's
//   icon, version information and texts
//   section "_dravik_": ConfigBlock (five or six NUL-terminated texts), then the ZIP
//   archive whose internal offsets count from the start of the file, then
//   zero padding to the file alignment.
#pragma once

#include <cstdint>

// The record's 8-byte marker: K, A, V, 0x01, s, f, x, 0x02. The stub's CRC
// check zeroes the 4 bytes after the marker's first occurrence in the file,
// so the record's own copy must be that first occurrence: nothing else in
// the stub may hold these bytes.
constexpr unsigned kSfxMarkerSize = 8;

// Byte offsets of the fields, counted from the first byte of the marker. The
// record is packed: EntryPointRva sits at 54, not on a 4-byte boundary.
namespace SfxConfigOffset {
constexpr unsigned StubCrc = 8;
constexpr unsigned ArchiveOffset = 12;
constexpr unsigned ConfigBlockOffset = 16;
constexpr unsigned EndRecordOffset = 20;
constexpr unsigned TotalSize = 24;
constexpr unsigned SfxFlags = 28;
constexpr unsigned Reserved32a = 32;
constexpr unsigned Reserved32b = 36;
constexpr unsigned Reserved16a = 40;
constexpr unsigned Finalised = 42;
constexpr unsigned Reserved32c = 44;
constexpr unsigned Reserved32d = 48;
constexpr unsigned Reserved16b = 52;
constexpr unsigned EntryPointRva = 54;
constexpr unsigned Padding = 58;
constexpr unsigned RecordSize = 60;
}  // namespace SfxConfigOffset

#pragma pack(push, 1)
struct SfxConfigRecord {
  uint8_t SfxMarker[kSfxMarkerSize];
  uint32_t StubCrc;            // CRC-32 of the stub part; 0 switches the check off
  uint32_t ArchiveOffset;      // file offset of the first local header; end of the CRC range
  uint32_t ConfigBlockOffset;  // file offset of the ConfigBlock; 0: none
  uint32_t EndRecordOffset;    // file offset of the end-of-central-directory record; 0: no check
  uint32_t TotalSize;          // sum of the entries' uncompressed sizes (progress range)
  uint32_t SfxFlags;           // SfxFlag bits below
  uint32_t Reserved32a;
  uint32_t Reserved32b;
  uint16_t Reserved16a;
  uint16_t Finalised;          // non-zero once the builder completed the file
  uint32_t Reserved32c;
  uint32_t Reserved32d;
  uint16_t Reserved16b;
  uint32_t EntryPointRva;      // must equal AddressOfEntryPoint of the image
  uint16_t Padding;
};
#pragma pack(pop)
static_assert(sizeof(SfxConfigRecord) == SfxConfigOffset::RecordSize, "record is 60 bytes");
static_assert(__builtin_offsetof(SfxConfigRecord, EntryPointRva) == SfxConfigOffset::EntryPointRva);
static_assert(__builtin_offsetof(SfxConfigRecord, Finalised) == SfxConfigOffset::Finalised);

// Bits of SfxFlags that the stub reads; every other bit is ignored.
namespace SfxFlag {
constexpr uint32_t OverwriteDefault = 0x2;     // "overwrite without prompting" starts checked
constexpr uint32_t UseCaption = 0x10;          // the fourth ConfigBlock text is the caption
constexpr uint32_t HasPassword = 0x100;        // the archive is encrypted
constexpr uint32_t AutoUnzip = 0x200;          // unattended unless the command line says NOAUTO
constexpr uint32_t CrcAfterHeaders = 0x800;    // StubCrc starts after the image header
constexpr uint32_t SpannedArchive = 0x1000;    // the archive spans several disks
constexpr uint32_t ExeFirstVolume = 0x8000;    // volume files are ".EXE", the first is the stub
constexpr uint32_t CaptionAsTitle = 0x40000;   // the caption titles the main dialog
constexpr uint32_t PromptAsks = 0x80000;       // the start-up question has two buttons
constexpr uint32_t PromptOkCancel = 0x100000;  // ...OK and Cancel rather than Yes and No
constexpr uint32_t ExtractToTemp = 0x200000;   // extract into a fresh temporary folder, removed after
                                               // the sixth text's program has run
// The dialog's optional buttons, each shown unless its bit is set, so that a
// file built before the bits existed shows all of them. Taken from the top
// of the word, far from the bits the stub has always read.
constexpr uint32_t HideRunArchiver = 0x10000000;
constexpr uint32_t HideAbout = 0x20000000;
constexpr uint32_t HideHelp = 0x40000000;
}  // namespace SfxFlag

// The publisher's texts, which can be far longer than the ConfigBlock allows,
// are resources of the image instead (RT_RCDATA, ANSI in the target code page
// with a terminating NUL): the stub finds them in its loaded image without
// reading its file, and the stub CRC covers them. A missing one means the
// stub's own text (body) or no license page.
constexpr uint16_t kBodyTextResource = 1;     // replaces the main dialog's prompt
constexpr uint16_t kLicenseTextResource = 2;  // shown before the dialog, to be accepted
constexpr unsigned kBodyTextLimit = 511;       // bytes without the terminator
constexpr unsigned kLicenseTextLimit = 65535;  // what an edit control of every Windows version holds

// The ConfigBlock: five NUL-terminated texts, back to back, at the start of
// the payload section (folder, credit, start-up question, caption,
// information text), and for a setup a sixth: the command line to run after
// a successful extraction. A block without the sixth text (every file built
// without a program to run) reads as an empty one, so the five texts keep
// their places and older files their bytes. Limits are in bytes without the
// terminator.
constexpr unsigned kConfigBlockMaxSize = 1256;
constexpr unsigned kConfigBlockTexts = 6;
constexpr unsigned kFolderTextLimit = 260;
constexpr unsigned kPromptTextLimit = 513;
constexpr unsigned kCaptionTextLimit = 64;
constexpr unsigned kInfoTextLimit = 511;
constexpr unsigned kRunCommandTextLimit = 511;

// The run command with every "{folder}" replaced by the extraction folder
// (at most 260 characters) must fit this many bytes; the builder refuses a
// command that could not.
constexpr unsigned kRunCommandLineLimit = 1023;
constexpr char kFolderPlaceholder[] = "{folder}";
constexpr unsigned kFolderPlaceholderLength = 8;

// PE facts the integrity checks and the builder share. The image header is
// the "PE\0\0" signature, the 20-byte file header and the optional header:
// 224 bytes in a PE32 image (the x86 stub), 240 in PE32+ (the x64 stub),
// told apart by the optional header's magic. The fields the checks read lie
// at the same offsets in both.
constexpr unsigned kDosHeaderSize = 64;
constexpr unsigned kLfanewOffset = 60;               // e_lfanew inside the DOS header
constexpr unsigned kPe32ImageHeaderSize = 248;       // signature + file header + PE32 optional header
constexpr unsigned kPe32PlusImageHeaderSize = 264;   // the same with the PE32+ optional header
constexpr unsigned kOptionalMagicOffsetInHeader = 24;  // the optional header's first field
constexpr unsigned kPe32PlusMagic = 0x20B;
constexpr unsigned kEntryPointOffsetInHeader = 40;   // AddressOfEntryPoint, from the signature

// Name of the payload section: exactly eight characters, no terminator.
constexpr char kPayloadSectionName[8] = {'_', 'd', 'r', 'a', 'v', 'i', 'k', '_'};
constexpr uint32_t kPayloadSectionCharacteristics = 0x42000040;
