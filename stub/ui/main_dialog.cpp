// The main dialog: the prompt, the destination folder, the overwrite
// option and the buttons; its Unzip command runs the extraction on the one
// thread, with the meter and the message pump keeping the window alive.
//
// The procedure only dispatches; each message and command has its own
// handler. Commands are matched on the whole wParam (notification code 0).
#include "archive/record_walker.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "output/folder_variables.h"
#include "output/temp_folder.h"
#include "platform/extraction_ui.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

#include <shlobj.h>

namespace {

// Control and command identifiers of the template.
constexpr int kPromptId = 101;
constexpr int kOverwriteId = 102;
constexpr int kUnusedCheckId = 111;
constexpr int kHelpId = 104;
constexpr int kFolderLabelId = 105;
constexpr int kFolderId = 106;
constexpr int kAboutId = 112;
constexpr int kRunArchiverId = 113;
constexpr int kBrowseId = 115;
constexpr int kUnzipId = IDOK;
constexpr int kCloseId = IDCANCEL;

constexpr UINT_PTR kRevealTimerId = 69;
constexpr UINT kRevealDelayMs = 500;
constexpr LONG kMeterAtOnceOffset = 0x80000;  // archives this large show the meter at once
constexpr UINT kLongestNameInPrompt = 24;
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
static const char kTitleFormat[] = "%s - %s";

UINT_PTR RevealTimer;  // non-zero while the meter-reveal timer runs

HWND Meter(HWND dialog) { return GetDlgItem(dialog, kMeterId); }

void SetStatusLine(HWND dialog, LPCSTR text) { SetDlgItemTextA(dialog, kStatusLineId, text); }

// Hides the status line and shows the meter in its place.
void RevealMeter(HWND dialog) {
  ShowWindow(GetDlgItem(dialog, kStatusLineId), SW_HIDE);
  ShowWindow(Meter(dialog), SW_SHOW);
  Sfx.MeterShown = 1;
}

// The prompt is the publisher's body text, shown as it is, or names the
// file, or "this self-extractor file" for a long name; the title always
// carries the full name (or the builder's caption).
void ShowPromptAndTitle(HWND dialog) {
  LPCSTR name = FileNamePart(Sfx.ModulePath);
  LPCSTR shown = static_cast<UINT>(lstrlenA(name)) > kLongestNameInPrompt ? MsgText(MsgThisSelfExtractor) : name;
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgUnzipPrompt), shown);
  LPCSTR body = PublisherText(kBodyTextResource);
  SetDlgItemTextA(dialog, kPromptId, body ? body : Sfx.MessageBuffer);
  wsprintfA(Sfx.MessageBuffer, kTitleFormat, kSfxTitle, name);
  if (Sfx.Config->SfxFlags & SfxFlag::CaptionAsTitle)
    lstrcpyA(Sfx.MessageBuffer, Sfx.CustomCaption[0] ? Sfx.CustomCaption : MsgText(MsgSetupTitle));
  SetWindowTextA(dialog, Sfx.MessageBuffer);
}

// A temporary setup extracts into a fresh folder of its own, which nobody
// chooses.
bool IsTempSetup() { return (Sfx.Config->SfxFlags & SfxFlag::ExtractToTemp) != 0; }

// The destination: the builder's or the command line's with its
// environment variables expanded (once, here, so that what the folder field
// shows is where the files go), the temporary folder when there is none,
// the current folder for ".".
void ResolveTargetFolder() {
  if (!Sfx.TargetFolder[0])
    ChooseDefaultFolder(Sfx.TargetFolder);
  else if (!lstrcmpA(Sfx.TargetFolder, "."))
    GetCurrentDirectoryA(kPathBufferSize, Sfx.TargetFolder);
  else
    ExpandFolderVariables(Sfx.TargetFolder);
}

void ShowTargetFolder(HWND dialog) {
  SendDlgItemMessageA(dialog, kFolderId, EM_LIMITTEXT, MAX_PATH, 0);
  ResolveTargetFolder();
  SetDlgItemTextA(dialog, kFolderId, Sfx.TargetFolder);
}

// A temporary setup's dialog has no folder field: its label, the field and
// Browse are hidden.
void HideFolderChoice(HWND dialog) {
  const int ids[] = {kFolderLabelId, kFolderId, kBrowseId};
  for (int id : ids) ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
}

// Makes the temporary setup's folder at its first run.
void EnsureTempFolder() {
  if (!Sfx.TempFolder[0]) MakeFreshTempFolder();
}

// A setup's program runs once its files are out, after the dialog has gone.
bool NoteProgramDue() {
  if (!Sfx.RunCommand[0]) return false;
  Sfx.ProgramDue = 1;
  return true;
}

// The column of buttons, top to bottom, with the flag that leaves each out.
struct ColumnButton {
  int id;
  DWORD hiddenBy;  // an SfxFlag bit; 0: always shown
};
constexpr ColumnButton kButtonColumn[] = {
    {kUnzipId, 0}, {kRunArchiverId, SfxFlag::HideRunArchiver}, {kCloseId, 0},
    {kAboutId, SfxFlag::HideAbout}, {kHelpId, SfxFlag::HideHelp}};
constexpr UINT kColumnLength = sizeof kButtonColumn / sizeof kButtonColumn[0];

// Removes the optional buttons the builder left out and closes the column up
// behind them, each remaining button taking the next place from the top.
void RemoveHiddenButtons(HWND dialog) {
  DWORD flags = Sfx.Config->SfxFlags;
  if (!(flags & (SfxFlag::HideRunArchiver | SfxFlag::HideAbout | SfxFlag::HideHelp))) return;
  RECT places[kColumnLength];
  for (UINT i = 0; i < kColumnLength; i++) {
    GetWindowRect(GetDlgItem(dialog, kButtonColumn[i].id), &places[i]);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&places[i]), 2);
  }
  UINT next = 0;
  for (UINT i = 0; i < kColumnLength; i++) {
    HWND button = GetDlgItem(dialog, kButtonColumn[i].id);
    if (flags & kButtonColumn[i].hiddenBy) {
      DestroyWindow(button);
      continue;
    }
    SetWindowPos(button, nullptr, places[next].left, places[next].top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    next++;
  }
}

// Sets the dialog up; in unattended mode the run starts at once.
INT_PTR OnInitDialog(HWND dialog) {
  CentreOnScreen(dialog);
  if (!Sfx.ShBrowseForFolder || !Sfx.ShGetMalloc || !Sfx.ShGetPathFromIdList)
    DestroyWindow(GetDlgItem(dialog, kBrowseId));
  RemoveHiddenButtons(dialog);
  CheckDlgButton(dialog, kOverwriteId, Sfx.OverwriteWithoutPrompt ? BST_CHECKED : BST_UNCHECKED);
  if (Meter(dialog)) ShowWindow(Meter(dialog), SW_HIDE);
  Sfx.ExtractionActive = 0;
  ShowPromptAndTitle(dialog);
  if (IsTempSetup())
    HideFolderChoice(dialog);
  else
    ShowTargetFolder(dialog);
  Sfx.MainWindow = dialog;
  Sfx.StatusLine = GetDlgItem(dialog, kStatusLineId);
  Sfx.MeterWindow = Meter(dialog);
  ShowWindow(GetDlgItem(dialog, kUnusedCheckId), SW_HIDE);
  SetStatusLine(dialog, "");
  if (Sfx.Unattended) PostMessageA(dialog, WM_COMMAND, kUnzipId, 0);
  SetForegroundWindow(dialog);
  SetActiveWindow(dialog);
  return TRUE;
}

// Makes Close the default button and disables Unzip for the run.
void MakeCloseTheDefault(HWND dialog) {
  SendMessageA(dialog, DM_SETDEFID, kCloseId, 0);
  SendDlgItemMessageA(dialog, kUnzipId, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  SendDlgItemMessageA(dialog, kCloseId, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  EnableWindow(GetDlgItem(dialog, kUnzipId), FALSE);
}

// Resets the meter and shows it at once for a large or spanned archive;
// otherwise starts the reveal timer.
void PrepareMeter(HWND dialog) {
  Sfx.MeterShown = 0;
  if (!Meter(dialog)) return;
  SendDlgItemMessageA(dialog, kMeterId, kMeterSetPosition, 0, 0);
  SendDlgItemMessageA(dialog, kMeterId, kMeterSetRange, 100, 0);
  RevealTimer = 0;
  bool large = static_cast<LONG>(Sfx.Config->EndRecordOffset) >= kMeterAtOnceOffset;
  if (!large && !(Sfx.Config->SfxFlags & SfxFlag::SpannedArchive))
    RevealTimer = SetTimer(dialog, kRevealTimerId, kRevealDelayMs, nullptr);
  if (!RevealTimer) RevealMeter(dialog);
}

// Stops the timer and puts the status line's strip back as it was.
void FinishMeter(HWND dialog) {
  if (RevealTimer) KillTimer(dialog, kRevealTimerId);
  RevealTimer = 0;
  SendDlgItemMessageA(dialog, kMeterId, kMeterSetPosition, 100, 0);
  InvalidateRect(dialog, nullptr, FALSE);
  UpdateWindow(dialog);
  if (Meter(dialog) && Sfx.MeterShown) ShowWindow(Meter(dialog), SW_HIDE);
  InvalidateRect(dialog, nullptr, FALSE);
  UpdateWindow(dialog);
  SetStatusLine(dialog, "");
}

// Reports the run's outcome; a failed run ends the dialog, and so does a
// setup's successful one, without the count box: its program comes next.
void ReportRun(HWND dialog, int result) {
  if (result != 0) {
    SetStatusLine(dialog, MsgText(MsgUnzipAborted));  // the resume that ended the run set the exit code
    EndDialog(dialog, 1);
    return;
  }
  if (NoteProgramDue()) {
    EndDialog(dialog, 1);
    return;
  }
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgFilesUnzipped), Sfx.FilesUnzipped);
  SetStatusLine(dialog, Sfx.MessageBuffer);
  if (!Sfx.Unattended) ShowMessage(Sfx.MessageBuffer, MB_OK);
  if (Sfx.Unattended) PostMessageA(dialog, WM_COMMAND, kCloseId, 0);
  EnableWindow(GetDlgItem(dialog, kUnzipId), TRUE);
}

INT_PTR OnUnzip(HWND dialog) {
  MakeCloseTheDefault(dialog);
  Sfx.OverwriteWithoutPrompt = IsDlgButtonChecked(dialog, kOverwriteId) == BST_CHECKED ? 1 : 0;
  if (!IsTempSetup()) GetDlgItemTextA(dialog, kFolderId, Sfx.TargetFolder, kPathBufferSize);
  if (!IsTempSetup() && !Sfx.TargetFolder[0]) {
    ShowMessage(MsgText(MsgNoFolder), MB_OK | MB_ICONERROR);
    EnableWindow(GetDlgItem(dialog, kUnzipId), TRUE);
    return FALSE;
  }
  SetStatusLine(dialog, "");
  if (!AskPassword(dialog)) {  // cancelled: no run
    EnableWindow(GetDlgItem(dialog, kUnzipId), TRUE);
    return TRUE;
  }
  if (IsTempSetup()) EnsureTempFolder();
  PrepareMeter(dialog);
  Sfx.BytesWritten = Sfx.LastMeterUpdate = Sfx.FilesUnzipped = 0;
  int result = RunExtraction();
  FinishMeter(dialog);
  ReportRun(dialog, result);
  return FALSE;
}

void OnAbout() { ShowMessage(MsgText(MsgAboutText), MB_OK); }

// Lets the user pick the destination with the shell's folder browser.
void OnBrowse(HWND dialog) {
  typedef HRESULT(WINAPI * GetMallocFunction)(IMalloc**);
  typedef LPITEMIDLIST(WINAPI * BrowseFunction)(LPBROWSEINFOA);
  typedef BOOL(WINAPI * PathFunction)(LPCITEMIDLIST, LPSTR);
  IMalloc* allocator;
  if (reinterpret_cast<GetMallocFunction>(Sfx.ShGetMalloc)(&allocator) != 0) return;
  CHAR displayName[kPathBufferSize];
  BROWSEINFOA browse;
  FillBytes(&browse, 0, sizeof browse);
  browse.hwndOwner = dialog;
  browse.pszDisplayName = displayName;
  browse.lpszTitle = MsgText(MsgUnzipToFolder);
  browse.ulFlags = kBrowseFlags;
  LPITEMIDLIST chosen = reinterpret_cast<BrowseFunction>(Sfx.ShBrowseForFolder)(&browse);
  if (chosen) {
    if (reinterpret_cast<PathFunction>(Sfx.ShGetPathFromIdList)(chosen, Sfx.TargetFolder))
      SetDlgItemTextA(dialog, kFolderId, Sfx.TargetFolder);
    allocator->Free(chosen);
  }
  allocator->Release();
}

INT_PTR OnCommand(HWND dialog, WPARAM command) {
  switch (command) {
    case kUnzipId: return OnUnzip(dialog);
    case kCloseId: EndDialog(dialog, 1); return TRUE;
    case kAboutId: OnAbout(); return FALSE;
    case kBrowseId: OnBrowse(dialog); return FALSE;
    case kHelpId: ShowHelp(); return FALSE;
    case kRunArchiverId:
      if (RunArchiver()) EndDialog(dialog, 1);
      return FALSE;
  }
  return FALSE;
}

// The reveal timer: shows the meter once, unless a box is open (then the
// next tick decides) or the run is already a third done.
INT_PTR OnTimer(HWND dialog) {
  if (GetLastActivePopup(dialog) != dialog) return FALSE;
  if (RevealTimer) KillTimer(dialog, kRevealTimerId);
  RevealTimer = 0;
  if (Meter(dialog) && Sfx.ExtractionActive && Sfx.BytesWritten < Sfx.Config->TotalSize / 3) {
    RevealMeter(dialog);
    InvalidateRect(Meter(dialog), nullptr, FALSE);
  }
  return FALSE;
}

// Keeps the dialog of an unattended run hidden: made without WS_VISIBLE, it
// would still be shown by the dialog manager the first time its message
// queue ran empty.
INT_PTR OnWindowPosChanging(WINDOWPOS* position) {
  if (Sfx.Unattended) position->flags &= ~SWP_SHOWWINDOW;
  return FALSE;
}

}  // namespace

void CentreOnScreen(HWND dialog) {
  RECT window;
  GetWindowRect(dialog, &window);
  int x = (GetSystemMetrics(SM_CXSCREEN) - (window.right - window.left)) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (window.bottom - window.top)) / 2;
  SetWindowPos(dialog, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_TIMER: return wParam == kRevealTimerId ? OnTimer(dialog) : FALSE;
    case WM_WINDOWPOSCHANGING: return OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
  }
  return FALSE;
}

// A setup run unattended shows no window but its error boxes (which have
// no owner): the destination resolved as the dialog would show it, or the
// temporary setup's fresh folder; the password when the archive has one; the
// extraction; and the program is due.
static void RunSetupWithoutDialog() {
  if (!IsTempSetup()) {
    ResolveTargetFolder();
    if (!Sfx.TargetFolder[0]) FatalError(MsgText(MsgNoFolder));  // no folder given, no temporary folder
  }
  if (!AskPassword(nullptr)) {
    Sfx.ExitCode = kExitCancelled;
    return;
  }
  if (IsTempSetup()) EnsureTempFolder();
  Sfx.BytesWritten = Sfx.LastMeterUpdate = Sfx.FilesUnzipped = 0;
  if (RunExtraction() == 0) NoteProgramDue();
}

INT_PTR PlatformRunMainDialog(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate) {
  if (Sfx.Unattended && (IsTempSetup() || Sfx.RunCommand[0])) {
    RunSetupWithoutDialog();
    return 1;
  }
  return DialogBoxIndirectParamA(instance, dialogTemplate, nullptr, MainDialogProc, 0);
}

void PlatformRegisterMeterClass(HINSTANCE instance) { RegisterMeterClass(instance); }
