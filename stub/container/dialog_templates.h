// The in-memory dialog templates (DLGTEMPLATE followed by DLGITEMTEMPLATE
// items, each item on a 4-byte boundary, texts in UTF-16), stored with the
// message table.
#pragma once

#include "platform/platform.h"

// The main dialog's template, inside the unpacked message table; at least
// 1,024 bytes may be read from it.
inline const void* MainDialogTemplate();

// Unpacks the password dialog's template into target (targetSize bytes at
// most); the decoder's result code.
int InflatePasswordTemplate(BYTE* target, UINT targetSize);

// Unpacks the license page's template likewise.
int InflateLicenseTemplate(BYTE* target, UINT targetSize);

#include "container/message_table.h"

inline const void* MainDialogTemplate() { return MsgText(MsgCount); }
