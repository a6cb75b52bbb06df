// The main dialog: for now the stand-in that closes with its Close button.
//
// The procedure only dispatches; each message has its own handler.
#include "platform/platform.h"
#include "startup/sfx_state.h"

// Remembers the dialog as the owner of every later message box.
static INT_PTR OnInitDialog(HWND dialog) {
  Sfx.MainWindow = dialog;
  return TRUE;
}

// Close (and the system menu's close, which arrives as IDCANCEL) ends it.
static INT_PTR OnCommand(HWND dialog, WPARAM command) {
  if (command != IDCANCEL) return FALSE;
  Sfx.MainWindow = nullptr;
  EndDialog(dialog, 0);
  return TRUE;
}

static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
  }
  return FALSE;
}

INT_PTR PlatformRunMainDialog(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate) {
  return DialogBoxIndirectParamA(instance, dialogTemplate, nullptr, MainDialogProc, 0);
}

void PlatformRegisterMeterClass(HINSTANCE) {}
