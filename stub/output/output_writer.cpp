// The output writer (see output_writer.h).
#include "output/output_writer.h"

#include "container/message_table.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "util/crc32.h"

void FlushBlock() {
  if (Sfx.MemoryMode) {  // the output runs on through the memory target
    Sfx.BlockFill = 0;
    return;
  }
  UpdateCrc(Sfx.OutputBlock, Sfx.BlockFill);
  CheckWrite(_lwrite(Sfx.OutputFile, reinterpret_cast<LPCSTR>(Sfx.OutputBlock), Sfx.BlockFill));
  Sfx.BlockCursor = Sfx.OutputBlock;
  Sfx.BlockFill = 0;
}

void CheckWrite(UINT written) {
  if (written == static_cast<UINT>(HFILE_ERROR) || written != Sfx.BlockFill) {
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgWriteError), Sfx.EntryPath);  // disk full
    FatalError(Sfx.MessageBuffer);
  }
}
