// ConfigBlock reading (see config_block.h).
//
// Trust: the block comes from our own file, which the stub CRC covers when it
// is switched on; the builder keeps every text within its limit. The copies
// below still bound each text by its buffer, so a block edited by hand (with
// the CRC switched off) cannot overrun them: an over-long text is cut.
#include "container/config_block.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_file.h"
#include "container/archive_volumes.h"
#include "container/fixed_errors.h"
#include "container/sfx_config.h"
#include "util/path_text.h"

// Copies the text at `from` (which ends within the block) into `to`, keeping
// at most size - 1 bytes, and returns the start of the next text.
static const CHAR* TakeText(const CHAR* from, CHAR* to, UINT size) {
  UINT length = lstrlenA(from);
  UINT kept = length < size ? length : size - 1;
  if (to) {
    CopyBytes(to, from, kept);
    to[kept] = '\0';
  }
  return from + length + 1;
}

void ReadConfigBlock() {
  const SfxConfigRecord* config = Sfx.Config;
  if (config->ConfigBlockOffset == 0) return;  // no block: every text stays empty
  UINT length = config->ArchiveOffset - config->ConfigBlockOffset;
  if (length > kConfigBlockMaxSize) HeaderCorrupt();  // longer than any builder writes
  if (Sfx.SpannedSet) RequestDisk(1, true);
  LONG offset = static_cast<LONG>(config->ConfigBlockOffset);
  if (ArchiveSeek(offset, FILE_BEGIN) != offset) HeaderCorrupt();
  // Extra zero bytes end every text even when the block lacks its NULs, and
  // give an empty sixth text to a block that has only five.
  CHAR block[kConfigBlockMaxSize + kConfigBlockTexts];
  FillBytes(block, 0, sizeof block);
  if (ArchiveRead(block, length) != length) HeaderCorrupt();  // block cut short

  const CHAR* text = TakeText(block, Sfx.TargetFolder, kPathBufferSize);
  text = TakeText(text, nullptr, 0);  // the builder's credit text is not used
  if (*text) {
    Sfx.StartupPrompt = static_cast<LPSTR>(GlobalAlloc(GPTR, kStartupPromptSize));
    text = TakeText(text, Sfx.StartupPrompt, kStartupPromptSize);
  } else {
    Sfx.StartupPrompt = nullptr;
    text++;
  }
  if (config->SfxFlags & SfxFlag::UseCaption)
    text = TakeText(text, Sfx.CustomCaption, kCaptionBufferSize);
  else
    text = TakeText(text, nullptr, 0);
  text = TakeText(text, Sfx.InfoText, kInfoBufferSize);
  TakeText(text, Sfx.RunCommand, kRunCommandBufferSize);
}
