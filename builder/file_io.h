// Whole-file reads and the all-or-nothing write of an output file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes_ret);

// Writes `bytes` to a temporary file beside `path` and renames it to `path`,
// so that a failure never leaves a half-written file under the name.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error_ret);

// Makes the folders above `path` that do not exist yet, as mkdir -p does.
bool MakeParentFolders(const std::string& path, std::string* error_ret);
