// Integrity checks of the self-extractor file: the stub CRC, the end record
// at its recorded offset, and the image's entry-point address.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Position of the first occurrence of the 8-byte `marker` in image[0, size),
// or -1 when there is none.
LONG FindSfxMarker(const BYTE* image, DWORD size, const BYTE* marker);

// The size of the image header that starts at `header` (its "PE\0\0"
// signature): 248 bytes for a PE32 image, 264 for PE32+. The caller owes 26
// readable bytes there.
DWORD ImageHeaderSize(const BYTE* header);

// The stub CRC of a copy of the first archiveOffset bytes of a self-extractor:
// the 4 bytes after the marker's first occurrence are zeroed in the copy, and
// the CRC-32 runs from 0, or from the end of the image header (e_lfanew + 248,
// or + 264 for PE32+) when afterHeaders, up to archiveOffset. False when the marker is missing or the range is empty.
// Shared with the builder, which computes the value the stub will check.
bool ComputeStubCrc(BYTE* imageCopy, DWORD archiveOffset, bool afterHeaders,
                    const BYTE* marker, uint32_t* crc_ret);

// HeaderCorrupt unless the stub part matches StubCrc (only when it is non-0).
void VerifyStubCrc();

// FatalError unless an end or digital-signature record starts at
// EndRecordOffset (only when it is non-0 and the set is not spanned).
void VerifyEndRecord();

// True when the image header's AddressOfEntryPoint equals EntryPointRva.
bool VerifyEntryPoint();
