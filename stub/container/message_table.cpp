// Unpacking the message table (see message_table.h).
//
// Stored form (generated into message_record.h/.cpp by
// tools/make_message_table): a table of 32-bit offsets, one per text and one
// more for the main dialog template, counted from the start of the unpacked
// block; the message block, raw deflate, which unpacks to the texts (each
// NUL-terminated, in the OEM code page) followed by the main dialog
// template; and, at the next 4-byte boundaries, the password dialog block and
// the license page block.
#include "container/message_table.h"

#include "archive/inflate.h"
#include "message_record.h"
#include "startup/recovery.h"
#include "startup/sfx_state.h"
#include "util/path_text.h"

static_assert(kMessageRecordOffsets == MsgCount + 1, "the record was generated from the same texts");
static_assert(kMessageInflatedSize <= kMessageTableSentinelAt, "texts and template fit before the sentinels");
static_assert(kMainTemplateOffset + kMainTemplateCopySize <= kMessageTableSize,
              "the main template can be copied whole from the table");

constexpr BYTE kSentinelFirst = 0xDE;
constexpr BYTE kSentinelSecond = 0xAD;

static DWORD StoredOffset(UINT n) {
  const BYTE* p = MessageRecord + 4 * n;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

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
  OemToCharBuffA(texts, texts, StoredOffset(MsgCount));
  HGLOBAL handle = GlobalAlloc(GHND, kMessageTableSize);
  Sfx.MessageTable = handle ? static_cast<LPSTR>(GlobalLock(handle)) : nullptr;
  if (!Sfx.MessageTable) HeaderCorrupt();  // no memory to keep the texts
  CopyBytes(Sfx.MessageTable, work, kMessageTableSize);
  LocalFree(work);
}

LPCSTR MsgText(UINT n) { return Sfx.MessageTable + StoredOffset(n); }

int InflatePasswordTemplate(BYTE* target, UINT targetSize) {
  return InflateToMemory(MessageRecord + kPasswordBlockOffset, kPasswordBlockSize, target, targetSize);
}

int InflateLicenseTemplate(BYTE* target, UINT targetSize) {
  return InflateToMemory(MessageRecord + kLicenseBlockOffset, kLicenseBlockSize, target, targetSize);
}
