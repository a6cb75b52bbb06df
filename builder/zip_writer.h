// Writing an archive: local records one after another, the central
// directory and the end record, every offset counted from the start of the
// file the archive is placed in.
#pragma once

#include "builder/zip_model.h"

#include <string>

// The archive's bytes, as placed at file offset `base`; *endRecordAt_ret
// gets the file offset of its end record.
std::vector<uint8_t> WriteZip(const ZipArchive& archive, uint32_t base, uint32_t* endRecordAt_ret);

// The local record of one entry: header, name, extra, data, descriptor.
std::vector<uint8_t> LocalRecord(const ZipEntry& entry);

// The parts of a local record around its data, for a writer that sends the
// data on its own: the header with name and extra field, and the data
// descriptor (empty for an entry without one).
std::vector<uint8_t> LocalHeader(const ZipEntry& entry);
std::vector<uint8_t> LocalDescriptor(const ZipEntry& entry);

// One central header, for an entry of `storedSize` bytes of data (entry.data
// may be released by then) whose local header is at file offset localAt.
std::vector<uint8_t> CentralHeader(const ZipEntry& entry, uint32_t storedSize, uint32_t localAt);

// The end record of an archive whose central directory of `directorySize`
// bytes, listing `count` entries, starts at file offset directoryAt.
std::vector<uint8_t> EndRecord(size_t count, uint32_t directorySize, uint32_t directoryAt,
                               const std::vector<uint8_t>& comment);

// The central directory and end record for entries whose local records
// start at the given file offsets.
std::vector<uint8_t> CentralDirectory(const ZipArchive& archive, const std::vector<uint32_t>& localOffsets,
                                      uint32_t directoryAt, uint32_t* endRecordAt_ret);

// True when the archive can be written without ZIP64 and read by the
// self-extractor: at most 65,535 entries and under 2 GiB of records; false
// with *error_ret saying which limit it breaks.
bool CheckArchiveFits(const ZipArchive& archive, std::string* error_ret);

// What CheckArchiveFits counts, for an archive known before its data is:
// the most bytes an entry's records take with `storedSize` bytes of data
// (both headers, the name twice, extra fields, comment and a descriptor);
// the bytes of the end record with its comment; and the check of `count`
// entries whose records take at most `recordsBound` bytes in all.
uint64_t EntryRecordsBound(const ZipEntry& entry, uint64_t storedSize);
uint64_t EndRecordBound(const ZipArchive& archive);
bool CheckArchiveBounds(uint64_t count, uint64_t recordsBound, std::string* error_ret);
