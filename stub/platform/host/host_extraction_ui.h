// The host platform's side of the extraction's user interface
// (platform/extraction_ui.h), seen from host_win32.cpp: HostReset clears
// what it recorded.
#pragma once

// Clears the queued pump answers and the recorded meter positions and
// status lines.
void ExtractionUiReset();
