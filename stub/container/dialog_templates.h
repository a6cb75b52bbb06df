// In-memory dialog templates (DLGTEMPLATE followed by DLGITEMTEMPLATE items,
// each item on a 4-byte boundary, texts in UTF-16).
#pragma once

// The main dialog's template; at least 1,024 bytes may be read from it.
const void* MainDialogTemplate();
