// The license page: the publisher's license text, read-only and scrolled,
// with Accept and Decline, shown before the main dialog; and the lookup of
// the publisher's texts, which the builder stores as resources of the image.
//
// The page's template is stored compressed with the message table and
// unpacked once, into a block of kTemplateBlockSize bytes; the text itself
// stays in the loaded image and is never copied.
#include "archive/stored_texts.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/dialog_templates.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "message_record.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

namespace {

constexpr UINT kTemplateBlockSize = 600;  // the unpacked template (about 500 bytes) and zeros
static_assert(kLicenseTemplateSize <= kTemplateBlockSize, "the license page's template fits its block");
constexpr int kLicenseTextId = 302;
static const char kNoMemoryForResources[] = "no memory for resources";

// Sets the title and the text; the focus goes to Accept, since the dialog
// manager would otherwise focus the text and select all of it.
INT_PTR OnInitPage(HWND page, LPCSTR licenseText) {
  CentreOnScreen(page);
  bool captioned = (Sfx.Config->SfxFlags & SfxFlag::UseCaption) && Sfx.CustomCaption[0];
  SetWindowTextA(page, captioned ? Sfx.CustomCaption : kSfxTitle);
  SetDlgItemTextA(page, kLicenseTextId, licenseText);
  SetFocus(GetDlgItem(page, IDOK));
  SetForegroundWindow(page);
  return FALSE;  // the focus is set
}

// Accept ends the page with IDOK; Decline, Escape and the close box with IDCANCEL.
INT_PTR CALLBACK LicensePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitPage(page, reinterpret_cast<LPCSTR>(lParam));
    case WM_COMMAND:
      if (wParam != IDOK && wParam != IDCANCEL) return FALSE;
      EndDialog(page, static_cast<INT_PTR>(wParam));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

LPCSTR PublisherText(WORD id) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) return nullptr;
  DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  LPCSTR text = loaded ? static_cast<LPCSTR>(LockResource(loaded)) : nullptr;
  // The builder ends every text with a NUL; a text without one is not used.
  return text && size && !text[size - 1] ? text : nullptr;
}

bool PlatformLicenseAccepted(HINSTANCE instance) {
  LPCSTR licenseText = PublisherText(kLicenseTextResource);
  if (!licenseText) return true;  // no license to accept
  BYTE* pageTemplate = static_cast<BYTE*>(LocalAlloc(LPTR, kTemplateBlockSize));
  if (!pageTemplate) FatalError(kNoMemoryForResources);
  InflateLicenseTemplate(pageTemplate, kTemplateBlockSize);
  Sfx.BlockCursor = nullptr;
  INT_PTR answer = DialogBoxIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(pageTemplate), nullptr,
                                           LicensePageProc, reinterpret_cast<LPARAM>(licenseText));
  LocalFree(pageTemplate);
  return answer == IDOK;  // a page that could not be shown is no acceptance
}
