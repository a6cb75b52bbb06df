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

// The central directory and end record for entries whose local records
// start at the given file offsets.
std::vector<uint8_t> CentralDirectory(const ZipArchive& archive, const std::vector<uint32_t>& localOffsets,
                                      uint32_t directoryAt, uint32_t* endRecordAt_ret);

// True when the archive can be written without ZIP64 and read by the
// self-extractor: at most 65,535 entries and under 2 GiB of records; false
// with *error_ret saying which limit it breaks.
bool CheckArchiveFits(const ZipArchive& archive, std::string* error_ret);
