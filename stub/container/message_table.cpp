// The message table (see message_table.h).
//
// Stored form (generated into message_record.h/.cpp by
// tools/make_message_table): a table of 32-bit offsets, one per text and one
// more for the main dialog template, counted from the start of the unpacked
// block; the message block, raw deflate, which unpacks to the texts (each
// NUL-terminated, in the OEM code page) followed by the main dialog
// template; and, at the next 4-byte boundaries, the password dialog block and
// the license page block.
#include "container/message_table.h"

#include "base/sfx_state.h"
#include "message_record.h"

static_assert(kMessageRecordOffsets == MsgCount + 1, "the record was generated from the same texts");
static_assert(kMessageInflatedSize <= kMessageTableSentinelAt, "texts and template fit before the sentinels");
static_assert(kMainTemplateOffset + kMainTemplateCopySize <= kMessageTableSize,
              "the main template can be copied whole from the table");

static DWORD StoredOffset(UINT n) {
  const BYTE* p = MessageRecord + 4 * n;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

LPCSTR MsgText(UINT n) { return Sfx.MessageTable + StoredOffset(n); }
