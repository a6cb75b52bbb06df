// The password dialog: asks for the password of an encrypted archive before
// a run. Its template is stored compressed with the message table and
// unpacked anew for every showing.
#include "archive/stored_texts.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/dialog_templates.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

namespace {

constexpr UINT kTemplateBlockSize = 600;  // the unpacked template (about 400 bytes) and zeros
constexpr int kPasswordEditId = 402;
constexpr int kPasswordBufferSize = 255;  // 254 characters and the terminator
static const char kNoMemoryForResources[] = "no memory for resources";

void FreePassword() {
  if (!Sfx.Password) return;
  HGLOBAL handle = GlobalHandle(Sfx.Password);
  GlobalUnlock(handle);
  GlobalFree(handle);
  Sfx.Password = nullptr;
}

// OK: keeps a non-empty password (replacing the earlier one) and ends the
// dialog; an empty field leaves it open.
void OnOk(HWND dialog) {
  CHAR typed[kPasswordBufferSize];
  UINT length = GetDlgItemTextA(dialog, kPasswordEditId, typed, kPasswordBufferSize);
  if (length == 0) return;
  FreePassword();
  Sfx.Password = static_cast<LPSTR>(GlobalLock(GlobalAlloc(GPTR, length + 1)));
  if (!Sfx.Password) return;  // no memory: the dialog stays open
  CopyBytes(Sfx.Password, typed, length + 1);
  EndDialog(dialog, 1);
}

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CentreOnScreen(dialog);
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDOK) OnOk(dialog);
      if (wParam == IDCANCEL) EndDialog(dialog, 0);  // the earlier password stays
      return FALSE;
  }
  return FALSE;
}

}  // namespace

bool AskPassword(HWND owner) {
  if (!Sfx.EntryEncrypted) return true;
  BYTE* unpacked = static_cast<BYTE*>(LocalAlloc(LPTR, kTemplateBlockSize));
  if (!unpacked) FatalError(kNoMemoryForResources);
  InflatePasswordTemplate(unpacked, kTemplateBlockSize);
  bool result = false;
  HGLOBAL handle = GlobalAlloc(GHND, kTemplateBlockSize);
  void* dialogTemplate = handle ? GlobalLock(handle) : nullptr;
  if (dialogTemplate) {
    CopyBytes(dialogTemplate, unpacked, kTemplateBlockSize);
    INT_PTR answer = DialogBoxIndirectParamA(Sfx.InstanceHandle, static_cast<LPCDLGTEMPLATEA>(dialogTemplate),
                                             owner, PasswordDialogProc, 0);
    result = (answer & 0xFF) != 0;
    GlobalUnlock(handle);
  }
  if (handle) GlobalFree(handle);
  Sfx.BlockCursor = nullptr;
  LocalFree(unpacked);
  return result;
}
