// The user-interface operations the main dialog and the start-up sequence
// call (Windows build only).
#pragma once

#include "base/sfx_state.h"
#include "platform/platform.h"

// The main dialog's procedure.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves a dialog to the centre of the screen, without resizing or
// activating it, to the top of the z-order.
void CentreOnScreen(HWND dialog);

// Registers the "Meter" window class.
void RegisterMeterClass(HINSTANCE instance);

// Writes "Unzipping <file name of EntryPath>" into buffer (room for
// kUnzippingTextSize bytes): ANSI text, or UTF-8 for a UTF-8 entry.
void FormatUnzippingText(LPSTR buffer);

// For a UTF-8 entry, that text as wide characters in wide (room for
// kUnzippingTextSize) and its length; -1 for an ANSI entry, whose text the
// ANSI API shows as it is.
int UnzippingTextAsWide(LPCSTR text, LPWSTR wide);

// The user's temporary folder into destination; false when none is usable.
bool ChooseDefaultFolder(LPSTR destination);

// Asks for the password when the archive is encrypted; false when the user
// cancelled.
bool AskPassword(HWND owner);

// The publisher's text resource `id` (kBodyTextResource, ...) in the loaded
// image, or null when the builder stored none.
LPCSTR PublisherText(WORD id);

// The help box, and the archiver started on the self-extractor (true when a
// launch was made).
void ShowHelp();
bool RunArchiver();

// Control ids of the main dialog's status line and meter.
constexpr int kStatusLineId = 109;
constexpr int kMeterId = 201;

// Meter messages: set and get the range, set and get the position.
constexpr UINT kMeterSetRange = 0x400;
constexpr UINT kMeterGetRange = 0x401;
constexpr UINT kMeterSetPosition = 0x402;
constexpr UINT kMeterGetPosition = 0x403;
