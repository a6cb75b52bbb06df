// show_box: a known message box for the robot's own tests.
//
// usage: show_box [--owned] [--twice] [--exit N] FLAGS TEXT
//   FLAGS     MessageBoxA flags (MB_ICONHAND is 0x10, MB_YESNO 0x4, ...)
//   --owned   first show a plain top-level window and make it the box's owner
//             (it is disabled while the box is up and enabled again after);
//             it stays half a second before the box and after the last one
//   --twice   show the box a second time after the first is answered
//   --exit N  end with exit code N instead of the last answer (IDOK, IDNO, ...)
// The title is always "Robot Test".
#include <windows.h>

#include <cstdlib>
#include <cstring>

// Serves the thread's windows for about ms milliseconds.
static void Pump(DWORD ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(10);
  }
}

int main(int argc, char** argv) {
  bool owned = false, twice = false, fixedExit = false;
  DWORD exitCode = 0;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
    if (!strcmp(argv[i], "--owned")) owned = true;
    else if (!strcmp(argv[i], "--twice")) twice = true;
    else if (!strcmp(argv[i], "--exit") && i + 1 < argc) fixedExit = true, exitCode = strtoul(argv[++i], nullptr, 0);
  }
  if (i + 2 != argc) return 64;
  UINT flags = strtoul(argv[i], nullptr, 0);
  HWND owner = nullptr;
  if (owned) {
    owner = CreateWindowA("STATIC", "Robot Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                          nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(owner);
    // Let the robot see the owner before the box, so that the order in which
    // the two are written down does not depend on the polling.
    Pump(500);
  }
  int answer = MessageBoxA(owner, argv[i + 1], "Robot Test", flags);
  if (twice) answer = MessageBoxA(owner, argv[i + 1], "Robot Test", flags);
  if (owner) {
    Pump(500);  // the owner, enabled again, stays a moment for the robot to see
    DestroyWindow(owner);
  }
  return static_cast<int>(fixedExit ? exitCode : static_cast<DWORD>(answer));
}
