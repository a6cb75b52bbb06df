// The stub's user-visible texts, addressed by their place in the table, and
// the main dialog's template stored behind them.
//
// Every text the stub shows comes from here, except the few fixed texts kept
// beside the configuration record. The table is stored compressed in the
// stub and unpacked once at start-up (LoadMessageTable, in
// archive/stored_texts.h, since it takes the entry decoder); MsgText is
// valid from then on.
#pragma once

#include "platform/platform.h"

enum MessageId : UINT {
#define MESSAGE(name, text) Msg##name,
#include "container/message_texts.inc"
#undef MESSAGE
  MsgCount
};

// Size of the unpacked table: the texts and the main dialog template must
// fit in kMessageTableSize - 2 bytes; the last two bytes are sentinels that
// show an overlong unpacking.
constexpr unsigned kMessageTableSize = 5751;
constexpr unsigned kMessageTableSentinelAt = 5749;
constexpr unsigned kMainTemplateCopySize = 1024;  // what start-up copies from the template

// The n-th text (read-only); MsgText(MsgCount) is the main dialog template.
LPCSTR MsgText(UINT n);
