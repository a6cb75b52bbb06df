// Entries encrypted with WinZip's AES (ZIP "method" 99, as 7-Zip's
// -mem=AES256 and WinZip write them), which the self-extractor cannot
// decrypt: without a password they are refused, saying what to do; with
// `build --password` they are decrypted here, their authentication codes
// checked, and left plain, for the build to encrypt again with the
// traditional ZIP encryption that the self-extractor reads.
#pragma once

#include "builder/zip_model.h"

#include <cstdint>
#include <string>
#include <vector>

// The AES extra field (id 0x9901) of an entry: which AE version, the key
// strength, and the method the data is compressed with under the encryption.
struct AesExtra {
  uint16_t version = 0;   // 1: AE-1, the CRC-32 recorded; 2: AE-2, the CRC-32 field is 0
  uint8_t strength = 0;   // 1, 2, 3: AES-128, -192, -256
  uint16_t method = 0;    // the real compression method
};

// False when the extra field holds no well-formed AES block.
bool ReadAesExtra(const std::vector<uint8_t>& extra, AesExtra* aes_ret);

// Decrypts every AES entry with the first of `passwords` that opens it.
// With no passwords, an AES entry is refused. False with *error_ret naming
// the entry when a password opens none, or the data fails its
// authentication code.
bool DecryptAesEntries(ZipArchive* archive, const std::vector<std::string>& passwords, std::string* error_ret);
