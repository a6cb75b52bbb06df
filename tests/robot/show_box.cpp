// show_box: a known message box for the robot's own tests.
//
// usage: show_box [--owned] [--twice] [--exit N] FLAGS TEXT
//   FLAGS     MessageBoxA flags (MB_ICONHAND is 0x10, MB_YESNO 0x4, ...)
//   --owned   first show a plain top-level window and make it the box's owner
//             (it is disabled while the box is up and enabled again after)
//   --twice   show the box a second time after the first is answered
//   --exit N  end with exit code N instead of the last answer (IDOK, IDNO, ...)
// The title is always "Robot Test".
#include <windows.h>

#include <cstdlib>
#include <cstring>

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
  }
  int answer = MessageBoxA(owner, argv[i + 1], "Robot Test", flags);
  if (twice) answer = MessageBoxA(owner, argv[i + 1], "Robot Test", flags);
  if (owner) DestroyWindow(owner);
  return static_cast<int>(fixedExit ? exitCode : static_cast<DWORD>(answer));
}
