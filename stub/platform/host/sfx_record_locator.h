// Where the loaded stub finds its configuration record, worked out from the
// file as the loader would map it. Shared by the host platform (which plays
// the running stub for dravik-sfx test and extract) and by dravik-sfx info
// and build, so that every host tool reads the record the stub reads.
//
// The stub reads the record compiled into its own image (SfxImage, in a data
// section), never the first marker in the file: a copy of the marker in the
// DOS header area, which no loader or code reads, or in the payload would
// show the host tools another record, and another archive, than the stub
// extracts on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// How many bytes from the file's start LocateSfxRecord needs: the headers
// and the raw data of the image's own sections (all but the payload
// section). `head` holds the file's first `size` bytes, enough for the
// headers and the section table; 0 when they are not those of a PE image.
uint64_t StubPartSize(const uint8_t* head, size_t size);

// The file offset of the configuration record, or -1 when the image holds
// none or more than one: the marker is looked for only in the raw data that
// the loader maps of each of the image's own sections (PE32 and PE32+ alike:
// the section table follows an optional header of the size the file header
// gives), and the whole 60-byte record must lie there. `image` holds the
// file's first `size` bytes; StubPartSize of them suffice.
long LocateSfxRecord(const uint8_t* image, size_t size);
