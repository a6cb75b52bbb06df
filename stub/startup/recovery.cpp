// Error signalling and recovery (see recovery.h).
#include "startup/recovery.h"

#include "container/message_table.h"
#include "container/sfx_image.h"
#include "startup/sfx_state.h"

// The text a read error appends: a blank and the number in angle brackets.
static const char kReadErrorSuffix[] = " <%d>";
constexpr unsigned kReadErrorSuffixSize = 32;

[[noreturn]] static void Resume(int code, UINT exitCode) {
  Sfx.ExitCode = exitCode;
  longjmp(*Sfx.ActiveRecovery, code);
}

int ShowMessage(LPCSTR text, UINT type) { return MessageBoxA(Sfx.MainWindow, text, kSfxTitle, type); }

void FatalError(LPCSTR text) {
  ShowMessage(text, MB_OK | MB_ICONERROR);
  Resume(kResumeAbandoned, kExitFailure);
}

void HeaderCorrupt() { FatalError(HeaderCorruptText()); }

void ArchiveDamaged() { FatalError(MsgText(MsgZipDamaged)); }

void ReadError(int number) {
  CHAR suffix[kReadErrorSuffixSize];
  wsprintfA(suffix, kReadErrorSuffix, number);
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgReadError), Sfx.ModulePath);
  lstrcatA(Sfx.MessageBuffer, suffix);
  FatalError(Sfx.MessageBuffer);
}

void SilentAbort() { Resume(kResumeAbandoned, kExitCancelled); }

void CancelRun() { Resume(kResumeCancelled, kExitCancelled); }

bool ConfirmOkCancel(LPCSTR text) { return ShowMessage(text, MB_OKCANCEL) == IDOK; }
