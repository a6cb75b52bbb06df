// Entry extraction (see entry_extraction.h).
#include "archive/entry_extraction.h"

#include "archive/archive_input.h"
#include "archive/inflate.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "output/output_writer.h"
#include "platform/extraction_ui.h"
#include "util/crc32.h"

// Copies a stored entry's data byte by byte into the output blocks.
static void CopyStoredData() {
  WORD byte;
  while (NextInputByte(&byte)) {
    *Sfx.BlockCursor++ = static_cast<BYTE>(byte);
    if (++Sfx.BlockFill == kIoChunkSize) FlushBlock();
  }
}

// Writes the last, partial block (not counted towards the meter).
static void WriteLastBlock() {
  if (Sfx.BlockFill == 0) return;
  UpdateCrc(Sfx.OutputBlock, Sfx.BlockFill);
  CheckWrite(_lwrite(Sfx.OutputFile, reinterpret_cast<LPCSTR>(Sfx.OutputBlock), Sfx.BlockFill));
}

void ExtractEntry() {
  Sfx.RunningCrc = kCrcPreset;
  Sfx.InputAvailable = 0;
  Sfx.BlockFill = 0;
  Sfx.BlockCursor = Sfx.OutputBlock;
  CreateOutputFile();
  if (Sfx.LocalHeader.CompressedSize != 0) {
    if (Sfx.LocalHeader.Method == kMethodStored) {
      ShowUnzippingStatus();
      CopyStoredData();
    } else if (Sfx.LocalHeader.Method == kMethodDeflated) {
      ShowUnzippingStatus();
      Inflate();  // damage shows in the CRC comparison below
    } else {
      FatalError(MsgText(MsgUnsupportedMethod));  // the empty output file stays
    }
  }
  Sfx.FilesUnzipped++;
  WriteLastBlock();
  SetOutputFileTime();
  _lclose(Sfx.OutputFile);
  Sfx.OutputFile = 0;
  uint32_t crc = ~Sfx.RunningCrc;
  if (crc != Sfx.LocalHeader.Crc32) {
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgBadCrc), Sfx.EntryPath, crc, Sfx.LocalHeader.Crc32);
    FatalError(Sfx.MessageBuffer);  // the extracted data differ from what was stored
  }
}
