// Unpacking the stub's stored texts (see stored_texts.h).
#include "archive/stored_texts.h"

#include "archive/inflate.h"
#include "base/sfx_state.h"
#include "container/fixed_errors.h"
#include "container/message_table.h"
#include "message_record.h"
#include "util/path_text.h"

constexpr BYTE kSentinelFirst = 0xDE;
constexpr BYTE kSentinelSecond = 0xAD;

void LoadMessageTable() {
  BYTE* work = static_cast<BYTE*>(LocalAlloc(LPTR, kMessageTableSize));
  if (!work) HeaderCorrupt();  // no memory to unpack the texts
  work[kMessageTableSentinelAt] = kSentinelFirst;
  work[kMessageTableSentinelAt + 1] = kSentinelSecond;
  // A damaged stored block would otherwise give garbled texts and a broken
  // dialog template, so the decoder's result and the unpacked size count
  // as much as the sentinels.
  int result =
      InflateToMemory(MessageRecord + kMessageBlockOffset, kMessageBlockSize, work, kMessageTableSentinelAt);
  if (work[kMessageTableSentinelAt] != kSentinelFirst || work[kMessageTableSentinelAt + 1] != kSentinelSecond)
    HeaderCorrupt();  // the stored table unpacked to more than it may
  if (result != 0 || Sfx.BlockCursor != work + kMessageInflatedSize) HeaderCorrupt();  // damaged stored table
  LPSTR texts = reinterpret_cast<LPSTR>(work);
  // The texts end where the main dialog template starts.
  OemToCharBuffA(texts, texts, kMainTemplateOffset);
  HGLOBAL handle = GlobalAlloc(GHND, kMessageTableSize);
  Sfx.MessageTable = handle ? static_cast<LPSTR>(GlobalLock(handle)) : nullptr;
  if (!Sfx.MessageTable) HeaderCorrupt();  // no memory to keep the texts
  CopyBytes(Sfx.MessageTable, work, kMessageTableSize);
  LocalFree(work);
}

int InflatePasswordTemplate(BYTE* target, UINT targetSize) {
  return InflateToMemory(MessageRecord + kPasswordBlockOffset, kPasswordBlockSize, target, targetSize);
}

int InflateLicenseTemplate(BYTE* target, UINT targetSize) {
  return InflateToMemory(MessageRecord + kLicenseBlockOffset, kLicenseBlockSize, target, targetSize);
}
