// Error signalling and recovery (see recovery.h).
#include "base/recovery.h"

#include "base/sfx_state.h"
#include "base/utf8_text.h"

const char kSfxTitle[] = "Dravik Self-Extractor";

[[noreturn]] static void Resume(int code, UINT exitCode) {
  Sfx.ExitCode = exitCode;
  longjmp(*Sfx.ActiveRecovery, code);
}

// While the entry's name is UTF-8, so are the messages that name it (the
// table's texts are ASCII): they are shown through the wide API. A text
// that is not UTF-8 after all (one naming an ANSI path) is shown as ANSI.
int ShowMessage(LPCSTR text, UINT type) {
  constexpr int kTitleUnits = 32;  // "Dravik Self-Extractor", ASCII
  WCHAR wideText[kMessageBufferSize], wideTitle[kTitleUnits];
  if (Sfx.EntryUtf8 && Utf8ToWide(text, wideText, kMessageBufferSize) &&
      Utf8ToWide(kSfxTitle, wideTitle, kTitleUnits))
    return MessageBoxW(Sfx.MainWindow, wideText, wideTitle, type);
  return MessageBoxA(Sfx.MainWindow, text, kSfxTitle, type);
}

void FatalError(LPCSTR text) {
  ShowMessage(text, MB_OK | MB_ICONERROR);
  Resume(kResumeAbandoned, kExitFailure);
}

void SilentAbort() { Resume(kResumeAbandoned, kExitCancelled); }

void CancelRun() { Resume(kResumeCancelled, kExitCancelled); }

bool ConfirmOkCancel(LPCSTR text) { return ShowMessage(text, MB_OKCANCEL) == IDOK; }
