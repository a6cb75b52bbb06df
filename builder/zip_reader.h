// Taking an existing ZIP archive apart into entries, every entry's data
// kept as it is. Refuses, with a message naming the reason, what the
// self-extractor could not extract.
#pragma once

#include "builder/zip_model.h"

#include <string>

// False with *error_ret set when the archive is malformed or holds an entry
// the self-extractor cannot extract.
bool ReadZip(const std::vector<uint8_t>& bytes, ZipArchive* archive_ret, std::string* error_ret);

// True when every entry that is not encrypted decodes to the size and CRC-32
// its directory entry records, as the self-extractor will check them;
// false with *error_ret naming the first damaged entry otherwise.
bool CheckEntryData(const ZipArchive& archive, std::string* error_ret);
