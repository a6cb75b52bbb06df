// The data the builder and the integrity checks find inside the stub image:
// the configuration record, followed by the fixed texts that must be readable
// before (or without) the message table, and the tails of the ZIP signatures.
//
// The stub holds no complete ZIP signature anywhere, so that a tool scanning
// the file for the archive never finds a false start inside the stub: only
// the last three bytes of each signature are stored, and the first byte 'P'
// is put in front of them at start-up (AssembleSignatures).
#pragma once

#include "container/sfx_config.h"

constexpr unsigned kSignatureCount = 6;
constexpr unsigned kSignatureTailSize = 4;  // three bytes and a NUL

struct SfxImageData {
  SfxConfigRecord Config;
  char HeaderCorruptText[88];
  unsigned char SignatureTails[kSignatureCount][kSignatureTailSize];
};

// Non-const on purpose: the builder changes the record in the file, so the
// compiler must never fold the initial values below into the code.
extern SfxImageData SfxImage;

// The header-corrupt text, stored right behind the record: a fixed text
// kept outside the message table, as the boxes' title (kSfxTitle,
// base/recovery.h) is.
inline const char* HeaderCorruptText() { return SfxImage.HeaderCorruptText; }

// Writes the six ZIP signatures into their SfxState fields.
void AssembleSignatures();
