// Taking an existing ZIP archive apart into entries, every entry's data
// kept as it is. Refuses, with a message naming the reason, what the
// self-extractor could not extract.
#pragma once

#include "builder/zip_model.h"

#include <string>

// False with *error_ret set when the archive is malformed or holds an entry
// the self-extractor cannot extract.
bool ReadZip(const std::vector<uint8_t>& bytes, ZipArchive* archive_ret, std::string* error_ret);
