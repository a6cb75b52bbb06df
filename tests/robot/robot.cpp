// robot: starts a program, waits for its windows, writes what each shows
// (title, texts, buttons, the message-box icon) and answers it as a small
// script says. It drives the self-extractor in the end-to-end tests.
//
// usage: robot [--timeout SECONDS] STEP... -- PROGRAM [ARGUMENTS]
//
// The script is a list of steps; each step is used up by the next new
// visible top-level window of the program, in order. A step is any number
// of preparations followed by one final action:
//   preparations, done first, in order:
//     --type ID TEXT     put TEXT into the edit control ID (WM_SETTEXT)
//   final actions:
//     --click LABEL      press the button whose text is LABEL ('&' ignored)
//     --click-id ID      press the button with this control id
//     --read             only write the window down
//   a step that starts with
//     --back             is used up instead by a window already written down
//                        that was disabled and is enabled again: the owner of
//                        a box, once the box is gone (written "back TITLE")
// New preparations (holding Shift for the click, a key press) and actions
// (waiting for a window by title or text, a screenshot) fit the same shape:
// a preparation becomes another Prelude kind, an action another Action kind.
// Windows beyond the script are written down and left alone.
//
// Transcript on standard output, one block per window:
//   window "TITLE" class=CLASS icon=error|question|warning|information|other|none owner=yes|none
//     KIND ID "TEXT"          each visible child control (the icon control left out)
//     -> type ID "TEXT"       what the robot did
//     -> press ID "TEXT"
//   back "TITLE"              a window used by a --back step, then what was done
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

// Done to a window before its step's final action.
struct Prelude {
  enum Kind { Type } kind = Type;
  int id = 0;        // the control
  std::string text;  // what to type
};

// One step: preparations, then the final action.
struct Action {
  enum Kind { Click, ClickId, Read } kind = Read;
  std::string label;  // Click: the button's text without '&'
  int id = 0;         // ClickId: the button's id
  std::vector<Prelude> preludes;
  bool back = false;  // for a window coming back, not a new one
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

bool ParseScript(int argc, char** argv, Script* script) {
  std::vector<Prelude> preludes;  // go with the next final action
  bool back = false;              // so does this
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--"); i++) {
    std::string arg = argv[i];
    Action action;
    if (arg == "--timeout" && i + 1 < argc) {
      script->timeoutMs = static_cast<DWORD>(atof(argv[++i]) * 1000);
      continue;
    }
    if (arg == "--back") {
      back = true;
      continue;
    }
    if (arg == "--type" && i + 2 < argc) {
      preludes.push_back({Prelude::Type, atoi(argv[i + 1]), argv[i + 2]});
      i += 2;
      continue;
    }
    if (arg == "--click" && i + 1 < argc) {
      action.kind = Action::Click;
      action.label = argv[++i];
    } else if (arg == "--click-id" && i + 1 < argc) {
      action.kind = Action::ClickId;
      action.id = atoi(argv[++i]);
    } else if (arg == "--read") {
      action.kind = Action::Read;
    } else {
      fprintf(stderr, "robot: unknown argument %s\n", arg.c_str());
      return false;
    }
    action.preludes.swap(preludes);
    action.back = back;
    back = false;
    script->actions.push_back(action);
  }
  if (!preludes.empty() || back) {
    fprintf(stderr, "robot: --type and --back must be followed by the step's action\n");
    return false;
  }
  for (i++; i < argc; i++) script->commandLine += (script->commandLine.empty() ? "" : " ") + Quote(argv[i]);
  return !script->commandLine.empty();
}

// ---- reading windows ---------------------------------------------------------

std::string TextOf(HWND window) {
  char text[4096] = "";
  DWORD_PTR length = 0;
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

void WriteDown(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  printf("window \"%s\" class=%s icon=%s owner=%s\n", Escaped(TextOf(window)).c_str(), ClassOf(window).c_str(),
         SettledIconOf(window).c_str(), owner ? "yes" : "none");
  for (const Control& c : ControlsOf(window)) {
    if (!c.visible || c.id == kIconControlId) continue;
    std::string kind = c.className;
    for (char& ch : kind) ch = static_cast<char>(tolower(ch));
    printf("  %s %d \"%s\"\n", kind.c_str(), c.id, Escaped(c.text).c_str());
  }
  fflush(stdout);
}

// ---- acting ---------------------------------------------------------------------

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
  }
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

// Watches the program until it ends, writing down its windows and using up
// the script's steps on them. 0 when the program ended by itself, 3 on the
// timeout, 4 when a step's button is missing (the program still runs then).
int Drive(const PROCESS_INFORMATION& process, const Script& script) {
  std::vector<Seen> seen;  // windows already written down, in case one shows again
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
    Sleep(kSettleMs);  // let the window finish drawing its controls
    if (back) {
      printf("back \"%s\"\n", Escaped(TextOf(window)).c_str());
    } else {
      seen.push_back({window, false});
      WriteDown(window);
      if (backStep) continue;  // a new window while one is awaited back: written down, left alone
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
    fprintf(stderr, "usage: robot [--timeout S] [[--back] [--type ID TEXT]... --click LABEL|--click-id ID|--read]... "
                    "-- PROGRAM [ARGS]\n");
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

