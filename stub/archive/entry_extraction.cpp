// Extraction runs and entry extraction (see entry_extraction.h).
#include "archive/entry_extraction.h"

#include "archive/archive_input.h"
#include "archive/inflate.h"
#include "archive/record_walker.h"
#include "container/archive_file.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "output/output_writer.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "ui/extraction_ui.h"
#include "util/crc32.h"

// Positions the archive at its first record: disk 1 of a spanned set, and
// ArchiveOffset unless the set's volumes are plain ".ZIP" files.
static void PositionArchive() {
  if (Sfx.SpannedSet) RequestDisk(1, Sfx.ExeOnFirstDisk != 0);
  if (!Sfx.SpannedSet || Sfx.ExeOnFirstDisk) {
    LONG offset = static_cast<LONG>(Sfx.Config->ArchiveOffset);
    if (ArchiveSeek(offset, FILE_BEGIN) != offset) FatalError(MsgText(MsgIoError));
  }
}

int RunExtraction() {
  Sfx.ExtractionActive = 1;
  Sfx.KnownFolders[0] = '\0';
  jmp_buf* outer = Sfx.ActiveRecovery;
  int code = RecoveryPoint(Sfx.RunRecovery);
  SetCursor(Sfx.BusyCursor);
  if (code == 0) {
    PositionArchive();
    WalkArchive();
  } else if (Sfx.OutputFile) {
    _lclose(Sfx.OutputFile);  // the partly written file stays, undated
    Sfx.OutputFile = 0;
  }
  SetCursor(Sfx.NormalCursor);
  Sfx.EntryUtf8 = 0;  // path texts outside a run are ANSI
  Sfx.ExtractionActive = 0;
  Sfx.ActiveRecovery = outer;
  return code;
}

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
