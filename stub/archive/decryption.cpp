// Traditional ZIP decryption (see decryption.h).
//
// Format notes (ZIP application note, traditional encryption): the keys
// start at 0x12345678, 0x23456789, 0x34567890 and take every password byte
// as it is (system code page, no case folding). The check byte is the last
// header byte; it equals the high byte of the entry's CRC-32, or, for an
// entry written with a data descriptor (whose CRC was not known when the
// header was written), the high byte of its DOS time.
#include "archive/decryption.h"

#include "base/sfx_state.h"
#include "util/crc32.h"
#include "util/path_text.h"

constexpr uint32_t kKey0Start = 0x12345678, kKey1Start = 0x23456789, kKey2Start = 0x34567890;
constexpr uint32_t kKey1Multiplier = 134775813;

void UpdateKeys(BYTE plain) {
  Sfx.Key0 = CrcStep(Sfx.Key0, plain);
  Sfx.Key1 = (Sfx.Key1 + (Sfx.Key0 & 0xFF)) * kKey1Multiplier + 1;
  Sfx.Key2 = CrcStep(Sfx.Key2, static_cast<BYTE>(Sfx.Key1 >> 24));
}

BYTE KeyStreamByte() {
  uint32_t t = (Sfx.Key2 & 0xFFFF) | 2;
  return static_cast<BYTE>((t * (t ^ 1)) >> 8);
}

void InitKeys(LPCSTR password) {
  Sfx.Key0 = kKey0Start;
  Sfx.Key1 = kKey1Start;
  Sfx.Key2 = kKey2Start;
  for (const BYTE* p = reinterpret_cast<const BYTE*>(password); *p; p++) UpdateKeys(*p);
}

void DecryptBuffer(BYTE* data, UINT count) {
  for (UINT i = 0; i < count; i++) {
    data[i] ^= KeyStreamByte();
    UpdateKeys(data[i]);
  }
}

int DecryptHeader(const BYTE* header, BYTE check) {
  InitKeys(Sfx.Password);
  BYTE copy[kEncryptionHeaderSize];
  CopyBytes(copy, header, kEncryptionHeaderSize);
  DecryptBuffer(copy, kEncryptionHeaderSize);
  return copy[kEncryptionHeaderSize - 1] == check ? 0 : -1;
}
