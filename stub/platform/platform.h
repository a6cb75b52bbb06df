// The only door from the stub's portable code to the operating system.
//
// The stub is written against the Win32 API under the names Win32 gives its
// operations (_lopen, CharNextA, MessageBoxA, ...), with Win32's semantics and
// failure values. On Windows this header is <windows.h> itself; in the native
// build it is the POSIX re-implementation in host/, which exists so that the
// portable code can be unit-tested and reused by the dravik-sfx host tool.
//
// Besides the Win32 operations, every platform supplies the few operations of
// its own declared at the end of this file.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#else
#include "platform/host_win32.h"
#endif

#include <setjmp.h>

// setjmp for the stub's recovery points, whose longjmp must only restore the
// registers: it skips the user32 frames of a modal loop, and the stub has no
// unwind tables. On x86-64, msvcrt's longjmp unwinds every frame in between
// when setjmp recorded a frame address (mingw's setjmp does); recording none
// makes it restore the registers only, as it always does on i386.
#ifdef _WIN64
#define PlatformSetjmp(buffer) _setjmp((buffer), nullptr)
#else
#define PlatformSetjmp(buffer) setjmp(buffer)
#endif

struct SfxConfigRecord;

// The configuration record inside the running stub's image. On Windows it is
// the record compiled into the image (which the builder filled in on disk and
// the loader mapped); the host build reads it from the file that plays the
// part of the module (GetModuleFileNameA), since the host binary's own copy
// was never filled in, where the loader would map it: in the image's own
// sections, never in its headers or payload. Null when no record can be
// found.
const SfxConfigRecord* PlatformSfxRecord();

// Runs the main dialog modally from an in-memory template. Kept behind the
// platform because the dialog lives in ui/, which only the Windows build has;
// the host build records the call and returns as if Close had been pressed.
INT_PTR PlatformRunMainDialog(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate);

// Shows the publisher's license, when the image carries one, and asks the
// user to accept it; false when the user declined. The page lives in ui/ on
// Windows; the host build has no resources, counts the call and accepts.
bool PlatformLicenseAccepted(HINSTANCE instance);

// Registers the meter window class (ui/ on Windows, a no-op on the host).
void PlatformRegisterMeterClass(HINSTANCE instance);

// The user's temporary folder into folder (a path buffer): on Windows the
// default folder's choice (TMP, else TEMP, else the Windows folder's TEMP),
// on the host TMP, else TEMP. False when there is none.
bool PlatformUserTempFolder(LPSTR folder);
