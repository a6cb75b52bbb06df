// WinZip AES entries (see zip_aes.h).
//
// Format notes (WinZip's "AES Encryption Information", AE-1 and AE-2):
// - The headers say method 99 and carry the extra field 0x9901 with 7
//   bytes: the AE version (2), the vendor "AE" (2), the strength (1: 1, 2
//   or 3 for 128-, 192- or 256-bit keys) and the real method (2).
// - The data is: a salt of half the key's length, a 2-byte password
//   verifier, the encrypted (compressed) data, and a 10-byte
//   authentication code. The recorded compressed size covers all four.
// - PBKDF2 with HMAC-SHA1, 1,000 iterations, over the password and the
//   salt gives the AES key, the HMAC key (each of the key's length) and the
//   2-byte verifier, in that order.
// - The data is encrypted with AES in counter mode, the counter a 16-byte
//   little-endian number that starts at 1 (not OpenSSL's big-endian CTR, so
//   the counter blocks are encrypted here one by one with AES-ECB).
// - The authentication code is the first 10 bytes of HMAC-SHA1 over the
//   encrypted data.
// - AE-2 records 0 as the CRC-32 (the authentication code stands for it);
//   the self-extractor checks a CRC-32, so it is computed here from the
//   decoded data.
//
// Trust: the archive is untrusted. The verifier only screens passwords; the
// authentication code is what shows that the data is the publisher's.
#include "builder/zip_aes.h"

#include "builder/zip_reencode.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

#include <cstring>

namespace {

constexpr uint16_t kAesExtraId = 0x9901;
constexpr uint16_t kAesExtraSize = 7;
constexpr uint16_t kAesVendor = 0x4541;  // "AE"
constexpr int kPbkdf2Iterations = 1000;
constexpr size_t kVerifierSize = 2;
constexpr size_t kAuthenticationCodeSize = 10;
constexpr size_t kAesBlockSize = 16;
constexpr uint16_t kVersionDeflate = 20;

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

// The extra field without its AES block (the data is no longer AES-encrypted).
std::vector<uint8_t> WithoutAesExtra(const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> kept;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    uint16_t id = GetLe16(&extra[at]), size = GetLe16(&extra[at + 2]);
    if (at + 4 + size > extra.size()) return extra;
    if (id != kAesExtraId) kept.insert(kept.end(), extra.begin() + at, extra.begin() + at + 4 + size);
    at += 4 + size;
  }
  return at == extra.size() ? kept : extra;
}

// AES in WinZip's counter mode over `data`, in place (the same both ways).
bool CounterMode(const uint8_t* key, size_t keyLength, std::vector<uint8_t>* data) {
  const EVP_CIPHER* cipher = keyLength == 16 ? EVP_aes_128_ecb() : keyLength == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  if (!context) return false;
  bool ok = EVP_EncryptInit_ex(context, cipher, nullptr, key, nullptr) == 1 && EVP_CIPHER_CTX_set_padding(context, 0) == 1;
  uint8_t counter[kAesBlockSize] = {}, stream[kAesBlockSize];
  for (size_t at = 0; ok && at < data->size(); at += kAesBlockSize) {
    for (size_t i = 0; i < kAesBlockSize && ++counter[i] == 0; i++) {
    }
    int length = 0;
    ok = EVP_EncryptUpdate(context, stream, &length, counter, kAesBlockSize) == 1 && length == kAesBlockSize;
    for (size_t i = 0; ok && i < kAesBlockSize && at + i < data->size(); i++) (*data)[at + i] ^= stream[i];
  }
  EVP_CIPHER_CTX_free(context);
  return ok;
}

// The CRC-32 of an entry's data once decoded; false when it does not decode.
bool DecodedCrc(const ZipEntry& e, uint32_t* crc_ret) {
  std::vector<uint8_t> plain;
  std::string why;
  if (e.method == kMethodStored) {
    plain = e.data;
  } else if (e.method == kMethodDeflated) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    plain.resize(e.uncompressedSize);
    z.next_in = const_cast<Bytef*>(e.data.data());
    z.avail_in = static_cast<uInt>(e.data.size());
    z.next_out = plain.data();
    z.avail_out = static_cast<uInt>(plain.size());
    int status = inflate(&z, Z_FINISH);
    plain.resize(z.total_out);
    inflateEnd(&z);
    if (status != Z_STREAM_END) return false;
  } else if (!DecodeEntryData(e.method, e.flags, e.data.data(), e.data.size(), e.uncompressedSize, &plain, &why)) {
    return false;
  }
  *crc_ret = static_cast<uint32_t>(crc32(0, plain.data(), static_cast<uInt>(plain.size())));
  return true;
}

bool DecryptEntry(ZipEntry* e, const AesExtra& aes, const std::vector<std::string>& passwords, std::string* error) {
  const std::string entry = "entry \"" + e->name + "\"";
  const size_t keyLength = 8 + 8 * static_cast<size_t>(aes.strength), saltLength = keyLength / 2;
  if (e->data.size() < saltLength + kVerifierSize + kAuthenticationCodeSize)
    return Fail(error, entry + " is too short for its AES salt, verifier and authentication code");
  const uint8_t* salt = e->data.data();
  const uint8_t* verifier = salt + saltLength;
  std::vector<uint8_t> keys(2 * keyLength + kVerifierSize);
  bool opened = false;
  for (const std::string& password : passwords) {
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(saltLength),
                               kPbkdf2Iterations, static_cast<int>(keys.size()), keys.data()) == 1 &&
        memcmp(keys.data() + 2 * keyLength, verifier, kVerifierSize) == 0) {
      opened = true;
      break;
    }
  }
  if (!opened) return Fail(error, entry + " is AES-encrypted with another password than the one given");
  std::vector<uint8_t> data(e->data.begin() + saltLength + kVerifierSize, e->data.end() - kAuthenticationCodeSize);
  uint8_t code[EVP_MAX_MD_SIZE];
  unsigned codeLength = 0;
  if (!HMAC(EVP_sha1(), keys.data() + keyLength, static_cast<int>(keyLength), data.data(), data.size(), code, &codeLength) ||
      memcmp(code, e->data.data() + e->data.size() - kAuthenticationCodeSize, kAuthenticationCodeSize) != 0)
    return Fail(error, entry + " fails its AES authentication code: the data is damaged (or the password is wrong)");
  if (!CounterMode(keys.data(), keyLength, &data)) return Fail(error, entry + ": AES decryption failed");
  e->data = std::move(data);
  e->method = aes.method;
  e->flags &= ~kFlagEncryptedEntry;
  e->localExtra = WithoutAesExtra(e->localExtra);
  e->centralExtra = WithoutAesExtra(e->centralExtra);
  if (e->method == kMethodStored || e->method == kMethodDeflated) e->versionNeeded = kVersionDeflate;
  if (aes.version == 2 && !DecodedCrc(*e, &e->crc32))
    return Fail(error, "the data of \"" + e->name + "\" (" + MethodInWords(e->method) + ", under AES) cannot be decoded");
  return true;
}

}  // namespace

bool ReadAesExtra(const std::vector<uint8_t>& extra, AesExtra* aes_ret) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = GetLe16(&extra[at]), size = GetLe16(&extra[at + 2]);
    if (at + 4 + size > extra.size()) return false;
    if (id == kAesExtraId) {
      const uint8_t* p = &extra[at + 4];
      if (size != kAesExtraSize || GetLe16(p + 2) != kAesVendor) return false;
      aes_ret->version = GetLe16(p);
      aes_ret->strength = p[4];
      aes_ret->method = GetLe16(p + 5);
      return (aes_ret->version == 1 || aes_ret->version == 2) && aes_ret->strength >= 1 && aes_ret->strength <= 3;
    }
    at += 4 + size;
  }
  return false;
}

bool DecryptAesEntries(ZipArchive* archive, const std::vector<std::string>& passwords, std::string* error_ret) {
  for (ZipEntry& e : archive->entries) {
    if (e.method != kMethodAes) continue;
    AesExtra aes;
    if (!ReadAesExtra(e.centralExtra, &aes))
      return Fail(error_ret, "entry \"" + e.name + "\" is AES-encrypted but its AES extra field is missing or damaged");
    if (passwords.empty())
      return Fail(error_ret, "entry \"" + e.name + "\" is AES-encrypted; the self-extractor reads traditional ZIP encryption "
                             "only: re-create the archive with ZipCrypto, or build from the files with --password "
                             "(or wrap it with its password given as --password, to have it encrypted again)");
    if (!DecryptEntry(&e, aes, passwords, error_ret)) return false;
  }
  return true;
}
