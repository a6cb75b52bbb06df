// The extraction's message pump: keeps the dialog painted during a run and
// turns a key press or a left click on the dialog into the abort question.
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "platform/extraction_ui.h"

// Whether a message is user input that asks the abort question.
static bool IsAbortInput(const MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK: return true;
    case WM_CHAR: return (static_cast<DWORD>(message.lParam) & 0x80000000u) != 0;  // key transition
  }
  return false;
}

static bool IsCursorMessage(UINT message) {
  return message == WM_SETCURSOR || message == WM_MOUSEMOVE || message == WM_NCMOUSEMOVE;
}

static bool IsAimedAtDialog(HWND window) {
  return window == Sfx.MainWindow || GetParent(window) == Sfx.MainWindow;
}

// Under Wine every look at the queue is a server round trip, and a block
// takes well under a millisecond to make, so the queue is looked at once per
// this many milliseconds at most. A key press is still answered within a
// few hundredths of a second, and the dialog repainted as often as a screen
// shows it.
constexpr DWORD kPumpIntervalMs = 20;

bool PumpMessages() {
  DWORD now = GetTickCount();
  if (now - Sfx.LastPumpTick < kPumpIntervalMs) return false;
  Sfx.LastPumpTick = now;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (IsCursorMessage(message.message)) {
      SetCursor(Sfx.BusyCursor);  // the run keeps the wait cursor
    } else if (IsAbortInput(message)) {
      if (IsAimedAtDialog(message.hwnd))
        return ShowMessage(MsgText(MsgAbortQuestion), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    } else if (message.message != WM_CHAR) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return false;
}
