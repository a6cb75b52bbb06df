// The in-memory dialog templates (DLGTEMPLATE followed by DLGITEMTEMPLATE
// items, each item on a 4-byte boundary, texts in UTF-16), stored with the
// message table. The password dialog's and the license page's are unpacked
// when they are shown (archive/stored_texts.h).
#pragma once

#include "platform/platform.h"

// The main dialog's template, inside the unpacked message table; at least
// 1,024 bytes may be read from it.
inline const void* MainDialogTemplate();

#include "container/message_table.h"

inline const void* MainDialogTemplate() { return MsgText(MsgCount); }
