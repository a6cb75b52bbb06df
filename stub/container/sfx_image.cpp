// The configuration record as compiled into the stub, its neighbouring fixed
// texts and the signature tails; and the assembly of the signatures.
#include "container/sfx_image.h"

#include "base/sfx_state.h"
#include "util/path_text.h"

// Finalised is 0 in the bare stub: only the builder marks a file complete.
__attribute__((used)) SfxImageData SfxImage = {
    {{'K', 'A', 'V', 0x01, 's', 'f', 'x', 0x02}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    "Dravik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error",
    {
        {0x4B, 0x03, 0x04, 0},  // local file header
        {0x4B, 0x01, 0x02, 0},  // central directory file header
        {0x4B, 0x05, 0x06, 0},  // end of central directory record
        {0x4B, 0x05, 0x05, 0},  // digital signature of the central directory
        {0x4B, 0x30, 0x30, 0},  // temporary spanning marker
        {0x4B, 0x07, 0x08, 0},  // spanning signature / data descriptor
    },
};

void AssembleSignatures() {
  CHAR* const fields[kSignatureCount] = {Sfx.LocalHeaderSig,      Sfx.CentralHeaderSig,
                                         Sfx.EndOfCentralSig,     Sfx.DigitalSignatureSig,
                                         Sfx.SpanMarkerSig,       Sfx.SpanningSig};
  for (unsigned i = 0; i < kSignatureCount; i++) {
    fields[i][0] = 'P';
    CopyBytes(fields[i] + 1, SfxImage.SignatureTails[i], kSignatureTailSize);
  }
}
