// What the extraction engine asks of the user interface while it runs. The
// Windows build implements these in ui/; the host build in platform/host/,
// where a test script or dravik-sfx decides the answers.
#pragma once

#include "platform/platform.h"

// Empties the message queue; true when the user has just confirmed that the
// extraction is to be abandoned.
bool PumpMessages();

// Puts "Unzipping <file name>" in the dialog's status line unless the meter
// is shown.
void ShowUnzippingStatus();

// Control ids and messages of the main dialog that the engine uses.
constexpr int kStatusLineId = 109;
constexpr int kMeterId = 201;
constexpr UINT kMeterSetPosition = 0x402;
