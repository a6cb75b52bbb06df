// The stub's own stored texts, raw deflate in the generated message record,
// unpacked with the entry decoder in memory mode: the message table (with
// the main dialog template behind its texts) once at start-up, and the
// password dialog's and the license page's templates when they are shown.
#pragma once

#include "platform/platform.h"

// Unpacks the table into MessageTable; HeaderCorrupt when it cannot.
void LoadMessageTable();

// Unpacks the password dialog's template into target (targetSize bytes at
// most); the decoder's result code.
int InflatePasswordTemplate(BYTE* target, UINT targetSize);

// Unpacks the license page's template likewise.
int InflateLicenseTemplate(BYTE* target, UINT targetSize);
