// Error signalling and recovery.
//
// Every condition that ends an operation is reported one way: a message box,
// then a non-local return (longjmp) to the innermost active RecoveryPoint.
// There are two owners: the start-up sequence, whose point is installed once,
// and each extraction run, whose point nests inside it. Resuming abandons
// every frame in between, so none of those frames may own anything that
// needs releasing; all clean-up is the owner's.
//
// setjmp/longjmp rather than exceptions: a raise from a dialog procedure must
// cross the user32 frames of the modal loop, which exceptions cannot unwind.
#pragma once

#include "platform/platform.h"

// Installs a recovery point. Expands to the setjmp result: 0 on the first
// return, the resume code (kResumeCancelled or kResumeAbandoned) when resumed.
#define RecoveryPoint(buffer) (Sfx.ActiveRecovery = &(buffer), PlatformSetjmp(buffer))

// Error box owned by MainWindow, error icon; then resume with code 2.
[[noreturn]] void FatalError(LPCSTR text);

// Resume with code 2 without a box: the user gave up (a refused disk, a
// confirmed abort).
[[noreturn]] void SilentAbort();

// Resume with code 1: the user chose Cancel at the overwrite question.
[[noreturn]] void CancelRun();

// OK/Cancel box, no icon; true when the user chose OK.
bool ConfirmOkCancel(LPCSTR text);

// The title of the stub's boxes, a fixed text kept outside the message
// table so that it can be shown before (or without) the table.
extern const char kSfxTitle[];  // "Dravik Self-Extractor"

// A message box titled kSfxTitle and owned by MainWindow.
int ShowMessage(LPCSTR text, UINT type);

// The errors with a fixed text of their own (HeaderCorrupt, ArchiveDamaged,
// ReadError) are raised through FatalError from container/fixed_errors.h,
// beside the texts they show.
