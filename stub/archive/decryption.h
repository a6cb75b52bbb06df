// Traditional ZIP decryption: a stream cipher of three 32-bit keys,
// initialised from the password and updated with every plain byte; a 12-byte
// encryption header in front of each encrypted entry's data carries a check
// byte that tells (in all but one case in 256) a wrong password.
#pragma once

#include "platform/platform.h"

#include <cstdint>

void InitKeys(LPCSTR password);
void UpdateKeys(BYTE plain);
BYTE KeyStreamByte();

// Decrypts `count` bytes in place, in order, continuing the key stream.
void DecryptBuffer(BYTE* data, UINT count);

// Decrypts a copy of the 12 header bytes with keys fresh from Password;
// 0 when its last byte equals `check`, -1 otherwise.
int DecryptHeader(const BYTE* header, BYTE check);
