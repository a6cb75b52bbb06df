// robot: starts a program, waits for its windows, writes what each shows
// (title, texts, buttons, the message-box icon) and answers it as a small
// script says. It drives the self-extractor in the end-to-end tests.
//
// usage: robot [--utf8] [--timeout SECONDS] [ENVIRONMENT...] STEP... -- PROGRAM [ARGUMENTS]
//
// The program inherits the robot's environment, changed first by
//     --setenv NAME VALUE   set NAME (an empty VALUE sets it empty)
//     --unsetenv NAME       remove NAME
// and its command line is PROGRAM and ARGUMENTS, each quoted as the C
// runtime reads it back, then (after a blank) the text of
//     --tail TEXT           exactly as given (quotes and all)
//
// The script is a list of steps; each step is used up by the next new
// visible top-level window of the program, in order. A step is
//   [--back | --when TEXT] PREPARATION... ACTION FOLLOW-UP...
// which window it waits for:
//     (nothing)          the next new window
//     --back             a window already written down that was disabled and
//                        is enabled again: the owner of a box, once the box
//                        is gone (written "back TITLE")
//     --when TEXT        the next new window whose title or a control's text
//                        holds TEXT; new windows before it are written down
//                        and left alone
//   preparations, done first, in order:
//     --type ID TEXT     put TEXT into the edit control ID (WM_SETTEXT)
//     --shift            hold Shift down from here until the next window
//                        shows or the program ends
//     --sleep MS         wait
//     --shot FILE        save the whole screen as a BMP file
//     --peek             write down again, as they are now, the program's
//                        windows written down before (a dialog behind a box)
//     --run COMMAND      run a Windows command line and wait for its end
//                        (a helper that changes the program's world, such
//                        as the disk in a drive)
//   final actions:
//     --click LABEL      press the button whose text is LABEL ('&' ignored)
//     --click-id ID      press the button with this control id
//     --read             only write the window down
//   follow-ups, done after the action on the same window, in order:
//     --then-sleep MS    wait
//     --then-key VK      post a key press (WM_KEYDOWN, WM_KEYUP) to the window
//     --then-shot FILE   save the whole screen as a BMP file
//     --then-run COMMAND run a Windows command line and wait for its end
// Windows beyond the script are written down and left alone.
//
// Transcript on standard output, one block per window:
//   window "TITLE" class=CLASS icon=error|question|warning|information|other|none owner=yes|none
//     placed X Y WIDTH HEIGHT on SCREEN_WIDTH SCREEN_HEIGHT   where the window stands
//     KIND ID "TEXT"          each visible child control (the icon control left out)
//     disabled ID             after a control's line when the control is disabled
//     -> type ID "TEXT"       what the robot did
//     -> press ID "TEXT"
//     -> shift down
//     -> key VK
//     -> shot FILE
//     peek "TITLE"            a --peek, each window's controls indented further
//     -> run "COMMAND" exit=N
//   back "TITLE"              a window used by a --back step, its controls as
//                             above, then what was done
//   exit=N                    the program's full exit code
// Texts are written with \n, \r, \t, \" and \\ escaped.
//
// The robot's own exit status: 0 when the program ended by itself; 3 when it
// did not end within the timeout; 4 when a step named a button the window
// does not have (both kill the program); 2 when the program did not start;
// 64 for wrong usage.
//
// Acting is done by posting, never sending, so that the robot never waits
// inside the program's modal loops.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kIconControlId = 1088;  // the icon of a message box
constexpr DWORD kPollMs = 50;
constexpr DWORD kSettleMs = 150;

// Done to a window before or after its step's final action.
struct Prelude {
  enum Kind { Type, Shift, Sleep, Shot, Key, Run, Peek } kind = Type;
  int id = 0;        // Type: the control; Sleep: milliseconds; Key: the virtual key
  std::string text;  // Type: what to type; Shot: the file; Run: the command line
};

// One step: preparations, then the final action.
struct Action {
  enum Kind { Click, ClickId, Read } kind = Read;
  std::string label;  // Click: the button's text without '&'
  int id = 0;         // ClickId: the button's id
  std::vector<Prelude> preludes;
  std::vector<Prelude> followUps;
  bool back = false;  // for a window coming back, not a new one
  std::string when;   // only for a new window showing this text
};

// A window written down, and whether it has been seen disabled since.
struct Seen {
  HWND window;
  bool disabled;
};

struct Script {
  DWORD timeoutMs = 30000;
  std::vector<Action> actions;
  std::string commandLine;
  std::string tail;  // appended as it stands
};

// ---- the command line ------------------------------------------------------

// One argument as the C runtime's parser will read it back: quoted when it
// holds blanks or quotes; inside the quotes a quote is escaped with a
// backslash, and backslashes are doubled where they precede a quote.
std::string Quote(const char* arg) {
  if (*arg && !strpbrk(arg, " \t\"")) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char* p = arg; *p; p++) {
    if (*p == '\\') {
      backslashes++;
    } else {
      if (*p == '"') quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    quoted += *p;
  }
  quoted.append(backslashes, '\\');  // before the closing quote
  return quoted + "\"";
}

// Reads one preparation or follow-up option at argv[i] (advancing i past
// its values) into prelude; false when the option is none of them.
// With --utf8, texts are read as wide characters and written in UTF-8, so
// that names in any script read back exactly; by default they are read in
// the program's ANSI code page, as the program itself sees them.
bool TextsInUtf8 = false;

bool ParsePrelude(int argc, char** argv, int* i, Prelude* prelude, bool followUp) {
  std::string arg = argv[*i];
  if (followUp) {
    if (arg.rfind("--then-", 0) != 0) return false;
    arg = "--" + arg.substr(7);
  }
  bool oneValue = *i + 1 < argc;
  if (arg == "--type" && !followUp && *i + 2 < argc) {
    *prelude = {Prelude::Type, atoi(argv[*i + 1]), argv[*i + 2]};
    *i += 2;
  } else if (arg == "--shift" && !followUp) {
    *prelude = {Prelude::Shift, 0, ""};
  } else if (arg == "--peek" && !followUp) {
    *prelude = {Prelude::Peek, 0, ""};
  } else if (arg == "--sleep" && oneValue) {
    *prelude = {Prelude::Sleep, atoi(argv[++*i]), ""};
  } else if (arg == "--shot" && oneValue) {
    *prelude = {Prelude::Shot, 0, argv[++*i]};
  } else if (arg == "--run" && oneValue) {
    *prelude = {Prelude::Run, 0, argv[++*i]};
  } else if (arg == "--key" && followUp && oneValue) {
    *prelude = {Prelude::Key, static_cast<int>(strtol(argv[++*i], nullptr, 0)), ""};
  } else {
    return false;
  }
  return true;
}

bool ParseScript(int argc, char** argv, Script* script) {
  Action next;         // the step being read
  bool opened = false;  // whether it has anything yet
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--"); i++) {
    std::string arg = argv[i];
    Prelude prelude;
    if (arg == "--utf8") {
      TextsInUtf8 = true;
    } else if (arg == "--timeout" && i + 1 < argc) {
      script->timeoutMs = static_cast<DWORD>(atof(argv[++i]) * 1000);
    } else if (arg == "--setenv" && i + 2 < argc) {
      SetEnvironmentVariableA(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (arg == "--tail" && i + 1 < argc) {
      script->tail = argv[++i];
    } else if (arg == "--unsetenv" && i + 1 < argc) {
      SetEnvironmentVariableA(argv[++i], nullptr);
    } else if (!script->actions.empty() && !opened && ParsePrelude(argc, argv, &i, &prelude, true)) {
      script->actions.back().followUps.push_back(prelude);
    } else if (arg == "--back" && !opened) {
      next.back = opened = true;
    } else if (arg == "--when" && !opened && i + 1 < argc) {
      next.when = argv[++i];
      opened = true;
    } else if (ParsePrelude(argc, argv, &i, &prelude, false)) {
      next.preludes.push_back(prelude);
      opened = true;
    } else {
      if (arg == "--click" && i + 1 < argc) {
        next.kind = Action::Click;
        next.label = argv[++i];
      } else if (arg == "--click-id" && i + 1 < argc) {
        next.kind = Action::ClickId;
        next.id = atoi(argv[++i]);
      } else if (arg == "--read") {
        next.kind = Action::Read;
      } else {
        fprintf(stderr, "robot: unknown or misplaced argument %s\n", arg.c_str());
        return false;
      }
      script->actions.push_back(next);
      next = Action();
      opened = false;
    }
  }
  if (opened) {
    fprintf(stderr, "robot: a step must end with --click, --click-id or --read\n");
    return false;
  }
  for (i++; i < argc; i++) script->commandLine += (script->commandLine.empty() ? "" : " ") + Quote(argv[i]);
  if (script->commandLine.empty()) return false;
  if (!script->tail.empty()) script->commandLine += " " + script->tail;
  return true;
}

// ---- reading windows ---------------------------------------------------------

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (TextsInUtf8) {
    wchar_t wide[4096] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, sizeof wide / sizeof wide[0], reinterpret_cast<LPARAM>(wide),
                        SMTO_ABORTIFHUNG, 2000, &length);
    char utf8[4096 * 3] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
  }
  char text[4096] = "";
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      &length);
  return text;
}

std::string ClassOf(HWND window) {
  char name[128] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out;
}

std::string WithoutAmpersands(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

// The pixels of a size x size square of a device context, as 0x00RRGGBB.
std::vector<COLORREF> Pixels(HDC dc, int x, int y, int size) {
  std::vector<COLORREF> pixels;
  for (int row = 0; row < size; row++)
    for (int column = 0; column < size; column++) pixels.push_back(GetPixel(dc, x + column, y + row));
  return pixels;
}

// A standard icon drawn on the given background, as the box draws it.
std::vector<COLORREF> DrawnIcon(LPCSTR id, COLORREF background, int size) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all = {0, 0, size, size};
  FillRect(memory, &all, brush);
  DrawIconEx(memory, 0, 0, LoadIconA(nullptr, id), size, size, 0, nullptr, DI_NORMAL);
  std::vector<COLORREF> pixels = Pixels(memory, 0, 0, size);
  SelectObject(memory, previous);
  DeleteObject(brush);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Which standard icon a message box shows. The icon handle cannot be read
// from another process, so the icon control's pixels on the screen are
// compared with each standard icon drawn here on the same background.
std::string IconOf(HWND box) {
  HWND icon = GetDlgItem(box, kIconControlId);
  if (!icon || !IsWindowVisible(icon)) return "none";
  DWORD_PTR handle = 0;
  SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
  if (!handle) return "none";
  int size = GetSystemMetrics(SM_CXICON);
  POINT origin = {0, 0};
  ClientToScreen(icon, &origin);
  HDC screen = GetDC(nullptr);
  std::vector<COLORREF> shown = Pixels(screen, origin.x, origin.y, size);
  ReleaseDC(nullptr, screen);
  const std::pair<LPCSTR, const char*> kIcons[] = {
      {IDI_HAND, "error"}, {IDI_QUESTION, "question"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"}};
  const char* best = "other";
  size_t fewestDifferences = shown.size() / 20 + 1;  // nearly all pixels must agree
  for (const auto& [id, name] : kIcons) {
    std::vector<COLORREF> drawn = DrawnIcon(id, shown[0], size);
    size_t differences = 0;
    for (size_t i = 0; i < shown.size(); i++) differences += shown[i] != drawn[i];
    if (differences < fewestDifferences) fewestDifferences = differences, best = name;
  }
  return best;
}

struct Control {
  HWND window;
  std::string className;
  int id;
  std::string text;
  bool visible;
};

BOOL CALLBACK CollectControl(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<Control>*>(list)->push_back(
      {child, ClassOf(child), GetDlgCtrlID(child), TextOf(child), IsWindowVisible(child) != FALSE});
  return TRUE;
}

std::vector<Control> ControlsOf(HWND window) {
  std::vector<Control> controls;
  EnumChildWindows(window, CollectControl, reinterpret_cast<LPARAM>(&controls));
  return controls;
}

// The icon of a window that may still be painting: an icon that matches
// none of the standard ones is looked at again for up to a second.
std::string SettledIconOf(HWND window) {
  std::string icon = IconOf(window);
  for (int tries = 0; icon == "other" && tries < 10; tries++) {
    Sleep(100);
    icon = IconOf(window);
  }
  return icon;
}

// Each visible control of the window (the icon control left out), one per
// line after the indent, and whether it is disabled.
void WriteControls(HWND window, const char* indent) {
  for (const Control& c : ControlsOf(window)) {
    if (!c.visible || c.id == kIconControlId) continue;
    std::string kind = c.className;
    for (char& ch : kind) ch = static_cast<char>(tolower(ch));
    printf("%s%s %d \"%s\"\n", indent, kind.c_str(), c.id, Escaped(c.text).c_str());
    if (!IsWindowEnabled(c.window)) printf("%sdisabled %d\n", indent, c.id);
  }
}

void WriteDown(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  printf("window \"%s\" class=%s icon=%s owner=%s\n", Escaped(TextOf(window)).c_str(), ClassOf(window).c_str(),
         SettledIconOf(window).c_str(), owner ? "yes" : "none");
  RECT placed;
  GetWindowRect(window, &placed);
  printf("  placed %ld %ld %ld %ld on %d %d\n", placed.left, placed.top, placed.right - placed.left,
         placed.bottom - placed.top, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  WriteControls(window, "  ");
  fflush(stdout);
}

// ---- acting ---------------------------------------------------------------------

// Writes the screen as a 24-bit BMP file; the fixture turns it into PNG.
bool SaveScreen(const std::string& file) {
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = rowBytes * height;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  BITMAPFILEHEADER fileHeader{};
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
  fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
  FILE* out = fopen(file.c_str(), "wb");
  bool written = out && fwrite(&fileHeader, sizeof fileHeader, 1, out) == 1 &&
                 fwrite(&header, sizeof header, 1, out) == 1 && fwrite(bits, header.biSizeImage, 1, out) == 1;
  if (out) written = fclose(out) == 0 && written;
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

// Runs a command line to its end; its exit code, or -1 when it did not start.
long RunToEnd(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<long>(code);
}

// The windows written down so far, for --peek (set by Drive).
const std::vector<Seen>* WindowsSeen = nullptr;

// Writes down again the windows seen before, other than the one at hand.
void Peek(HWND current) {
  for (const Seen& s : *WindowsSeen) {
    if (s.window == current || !IsWindow(s.window)) continue;
    printf("  peek \"%s\"\n", Escaped(TextOf(s.window)).c_str());
    WriteControls(s.window, "    ");
  }
}

bool ShiftHeld = false;

void PressShift(bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_SHIFT;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
  ShiftHeld = down;
}

void ReleaseShift() {
  if (ShiftHeld) PressShift(false);
}

void Prepare(HWND window, const Prelude& prelude) {
  switch (prelude.kind) {
    case Prelude::Type:
      // Posted text would point into this process: WM_SETTEXT is one of the
      // messages the system carries across processes, so it is sent, with a
      // timeout in case the window is busy.
      SendMessageTimeoutA(GetDlgItem(window, prelude.id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(prelude.text.c_str()),
                          SMTO_ABORTIFHUNG, 2000, nullptr);
      printf("  -> type %d \"%s\"\n", prelude.id, Escaped(prelude.text).c_str());
      break;
    case Prelude::Shift:
      // The program reads the key state when it handles the click, which is
      // posted: give it time to see the key go down first.
      PressShift(true);
      Sleep(kSettleMs);
      printf("  -> shift down\n");
      break;
    case Prelude::Sleep:
      Sleep(static_cast<DWORD>(prelude.id));
      break;
    case Prelude::Shot:
      printf("  -> shot %s%s\n", prelude.text.c_str(), SaveScreen(prelude.text) ? "" : " (failed)");
      break;
    case Prelude::Peek:
      Peek(window);
      break;
    case Prelude::Run:
      printf("  -> run \"%s\" exit=%ld\n", Escaped(prelude.text).c_str(), RunToEnd(prelude.text));
      break;
    case Prelude::Key:
      PostMessageA(window, WM_KEYDOWN, static_cast<WPARAM>(prelude.id), 1);
      PostMessageA(window, WM_KEYUP, static_cast<WPARAM>(prelude.id), 1 | 0xC0000000u);
      printf("  -> key %d\n", prelude.id);
      break;
  }
  fflush(stdout);
}

// The button a Click or ClickId action means, or null.
HWND ButtonFor(HWND window, const Action& action) {
  for (const Control& c : ControlsOf(window)) {
    bool isButton = _stricmp(c.className.c_str(), "Button") == 0;
    if (action.kind == Action::ClickId ? c.id == action.id
                                       : isButton && WithoutAmpersands(c.text) == WithoutAmpersands(action.label))
      return c.window;
  }
  return nullptr;
}

// Carries out one step on a window; false when its button is not there.
bool Act(HWND window, const Action& action) {
  for (const Prelude& prelude : action.preludes) Prepare(window, prelude);
  bool done = true;
  if (action.kind != Action::Read) {
    HWND button = ButtonFor(window, action);
    if (button) {
      int id = GetDlgCtrlID(button);
      printf("  -> press %d \"%s\"\n", id, Escaped(TextOf(button)).c_str());
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    } else {
      printf("  -> no button %s\n", action.kind == Action::ClickId ? std::to_string(action.id).c_str()
                                                                   : ("\"" + Escaped(action.label) + "\"").c_str());
      done = false;
    }
  }
  fflush(stdout);
  if (done)
    for (const Prelude& followUp : action.followUps) Prepare(window, followUp);
  return done;
}

struct Finder {
  DWORD processId;
  const std::vector<Seen>* seen;
  HWND found;
};

BOOL CALLBACK FindNewWindow(HWND window, LPARAM data) {
  Finder* finder = reinterpret_cast<Finder*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != finder->processId || !IsWindowVisible(window)) return TRUE;
  for (const Seen& seen : *finder->seen)
    if (seen.window == window) return TRUE;
  finder->found = window;
  return FALSE;
}

// The first visible top-level window of the process that is not in seen.
HWND NewWindowOf(DWORD processId, const std::vector<Seen>& seen) {
  Finder finder{processId, &seen, nullptr};
  EnumWindows(FindNewWindow, reinterpret_cast<LPARAM>(&finder));
  return finder.found;
}

// Notes which windows written down are disabled now (an owner under its box).
void NoteDisabled(std::vector<Seen>& seen) {
  for (Seen& s : seen)
    if (IsWindow(s.window) && !IsWindowEnabled(s.window)) s.disabled = true;
}

// A window written down that was disabled and is enabled again, or null.
HWND ReturnedWindow(std::vector<Seen>& seen) {
  for (Seen& s : seen) {
    if (s.disabled && IsWindow(s.window) && IsWindowVisible(s.window) && IsWindowEnabled(s.window)) {
      s.disabled = false;
      return s.window;
    }
  }
  return nullptr;
}

// Whether the window's title or one of its controls' texts holds text.
bool Shows(HWND window, const std::string& text) {
  if (TextOf(window).find(text) != std::string::npos) return true;
  for (const Control& c : ControlsOf(window))
    if (c.text.find(text) != std::string::npos) return true;
  return false;
}

// Watches the program until it ends, writing down its windows and using up
// the script's steps on them. 0 when the program ended by itself, 3 on the
// timeout, 4 when a step's button is missing (the program still runs then).
int Drive(const PROCESS_INFORMATION& process, const Script& script) {
  std::vector<Seen> seen;  // windows already written down, in case one shows again
  WindowsSeen = &seen;
  size_t next = 0;
  DWORD started = GetTickCount();
  while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
    if (GetTickCount() - started > script.timeoutMs) {
      printf("robot: timed out\n");
      return 3;
    }
    NoteDisabled(seen);
    bool backStep = next < script.actions.size() && script.actions[next].back;
    HWND window = backStep ? ReturnedWindow(seen) : nullptr;
    bool back = window != nullptr;
    if (!window) window = NewWindowOf(process.dwProcessId, seen);
    if (!window) continue;
    ReleaseShift();
    Sleep(kSettleMs);  // let the window finish drawing its controls
    if (back) {
      printf("back \"%s\"\n", Escaped(TextOf(window)).c_str());
      WriteControls(window, "  ");
    } else {
      seen.push_back({window, false});
      WriteDown(window);
      if (backStep) continue;  // a new window while one is awaited back: written down, left alone
      if (next < script.actions.size() && !script.actions[next].when.empty() &&
          !Shows(window, script.actions[next].when))
        continue;  // not the window the step waits for: written down, left alone
    }
    if (next < script.actions.size() && !Act(window, script.actions[next++])) {
      return 4;
    }
  }
  if (next < script.actions.size()) printf("robot: %u steps left unused\n", unsigned(script.actions.size() - next));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Script script;
  if (!ParseScript(argc, argv, &script)) {
    fprintf(stderr, "usage: robot [--utf8] [--timeout S] [--setenv NAME VALUE|--unsetenv NAME]... [[--back|--when TEXT] PREPARATION... --click LABEL|--click-id ID|--read "
                    "FOLLOW-UP...]... -- PROGRAM [ARGS]\n");
    return 64;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(script.commandLine.begin(), script.commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    printf("robot: cannot start %s (error %lu)\n", script.commandLine.c_str(), GetLastError());
    return 2;
  }
  int status = Drive(process, script);
  ReleaseShift();
  if (status) {
    TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, 5000);
    return status;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("exit=%lu\n", code);
  return 0;
}

