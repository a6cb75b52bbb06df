// What the extraction engine asks of the user interface while it runs: the
// second door beside platform.h. The Windows build implements these in ui/
// (the main dialog's status line and meter, its message pump); the host
// build in platform/host/, where a test script or dravik-sfx decides the
// answers. The engine (archive/, output/) includes no ui/ header.
//
// The engine's questions to the user are message boxes, which every
// platform shows through MessageBoxA/W (platform.h) and the host answers
// from its script or policy; they are asked through ShowMessage and
// ConfirmOkCancel (base/recovery.h) by:
//   - the overwrite question: ConfirmOverwrite (output/output_writer.h);
//   - the disk prompts of a spanned set: RequestDisk
//     (container/archive_volumes.h);
//   - the abort question: inside PumpMessages on Windows, after a key press
//     or a click on the dialog.
// The password is asked before a run, not by the engine: by the dialog
// (ui/password_dialog.cpp) on Windows, by dravik-sfx's --password on the
// host; the engine only checks it (CheckPassword, archive/archive_input.h).
#pragma once

#include "platform/platform.h"

// Empties the message queue; true when the user has just confirmed that the
// extraction is to be abandoned. Called after every block; on Windows it
// looks at the queue at most every 20 ms and returns false in between.
bool PumpMessages();

// Puts "Unzipping <file name>" in the dialog's status line unless the meter
// is shown.
void ShowUnzippingStatus();

// Moves the meter, which is shown, to `position` hundredths of the run.
void MoveMeter(DWORD position);

// Repaints the meter and the dialog at once, so that a long entry shows
// its progress without waiting for the message pump.
void RepaintMeter();
