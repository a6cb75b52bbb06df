// The "Meter" control: a bar split at the current position with the
// "Unzipping <name>" text centred across it, in inverted colours on the two
// sides of the split. Range and position are kept as two 16-bit words in
// the window's 4 extra bytes; the text is formatted afresh at every paint.
#include "base/sfx_state.h"
#include "base/utf8_text.h"
#include "container/message_table.h"
#include "platform/extraction_ui.h"
#include "ui/ui_parts.h"
#include "util/path_text.h"

static const char kMeterClass[] = "Meter";
constexpr int kRangeWord = 0;
constexpr int kPositionWord = 2;
constexpr int kMeterFontPoints = 8;
constexpr int kInitialRange = 100, kInitialPosition = 50;

void FormatUnzippingText(LPSTR buffer) { wsprintfA(buffer, MsgText(MsgUnzippingFile), FileNamePart(Sfx.EntryPath)); }

int UnzippingTextAsWide(LPCSTR text, LPWSTR wide) {
  if (!Sfx.EntryUtf8 || !Utf8ToWide(text, wide, kUnzippingTextSize)) return -1;
  return lstrlenW(wide);
}

void ShowUnzippingStatus() {
  if (Sfx.MeterShown) return;  // the meter shows the name itself
  CHAR text[kUnzippingTextSize];
  WCHAR wide[kUnzippingTextSize];
  FormatUnzippingText(text);
  if (UnzippingTextAsWide(text, wide) >= 0)
    SetWindowTextW(Sfx.StatusLine, wide);
  else
    SetWindowTextA(Sfx.StatusLine, text);
  InvalidateRect(Sfx.StatusLine, nullptr, FALSE);
}

void MoveMeter(DWORD position) { SendMessageA(Sfx.MeterWindow, kMeterSetPosition, position & 0xFFFF, 0); }

// Paints the meter again only when its text has changed (a new entry), since
// the position repaints itself as it moves: a paint makes a font and draws
// twice, and under Wine every paint is a round of server and X requests.
// A dialog that is not shown (an unattended run) has nothing to paint, and
// its update would still cost two server requests per block under Wine.
void RepaintMeter() {
  if (!(GetWindowLongA(Sfx.MainWindow, GWL_STYLE) & WS_VISIBLE)) return;
  CHAR text[kUnzippingTextSize];
  FormatUnzippingText(text);
  if (Sfx.MeterWindow && lstrcmpA(text, Sfx.PaintedMeterText) != 0)  // a null window would invalidate the desktop
    InvalidateRect(Sfx.MeterWindow, nullptr, FALSE);
  UpdateWindow(Sfx.MainWindow);
}

// With create: makes the meter's font ("MS Shell Dlg", 8 points at the
// display's resolution), selects it and returns the font it replaced (null
// when it could not be made). Without: selects `font` back and deletes the
// meter's font that it replaces.
static HFONT SelectMeterFont(HDC dc, HFONT font, bool create) {
  if (!create) {
    if (font) DeleteObject(SelectObject(dc, font));
    return nullptr;
  }
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  LOGFONTA description;
  FillBytes(&description, 0, sizeof description);
  lstrcpyA(description.lfFaceName, "MS Shell Dlg");
  description.lfHeight = -(GetDeviceCaps(display, LOGPIXELSY) * kMeterFontPoints) / 72;
  HFONT made = CreateFontIndirectA(&description);
  DeleteDC(display);
  return made ? static_cast<HFONT>(SelectObject(dc, made)) : nullptr;
}

static void SwapColours(HDC dc) {
  COLORREF text = GetTextColor(dc);
  SetTextColor(dc, GetBkColor(dc));
  SetBkColor(dc, text);
}

// Draws the meter's text centred at x, clipped to and filling area.
static void DrawMeterText(HDC dc, int x, int y, const RECT* area, LPCSTR text, LPCWSTR wide, int wideLength) {
  if (wideLength >= 0)
    ExtTextOutW(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, area, wide, wideLength, nullptr);
  else
    ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, area, text, lstrlenA(text), nullptr);
}

// Paints both parts of the bar with the text centred across the whole.
static LRESULT OnPaint(HWND meter) {
  int range = static_cast<int>(SendMessageA(meter, kMeterGetRange, 0, 0));
  int position = static_cast<int>(SendMessageA(meter, kMeterGetPosition, 0, 0));
  if (range == 0) range = 1, position = 0;
  CHAR text[kUnzippingTextSize];
  WCHAR wide[kUnzippingTextSize];
  FormatUnzippingText(text);
  lstrcpyA(Sfx.PaintedMeterText, text);
  int wideLength = UnzippingTextAsWide(text, wide);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(meter, &paint);
  HFONT previous = SelectMeterFont(dc, nullptr, true);
  SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  SwapColours(dc);  // the filled part: highlight text on highlight
  RECT client;
  GetClientRect(meter, &client);
  int width = client.right, height = client.bottom;
  RECT filled = {0, 0, position * width / range, height};
  SIZE letter;
  int y = 0;
  if (GetTextExtentPoint32A(dc, "X", 1, &letter)) {
    y = (height - letter.cy) / 4;
    DrawMeterText(dc, width / 2, y, &filled, text, wide, wideLength);
  }
  RECT remaining = {filled.right, 0, width, height};
  SwapColours(dc);
  DrawMeterText(dc, width / 2, y, &remaining, text, wide, wideLength);
  SelectMeterFont(dc, previous, false);
  EndPaint(meter, &paint);
  return 0;
}

// Stores a range or position word and repaints at once; a word that keeps
// its value leaves the picture as it is.
static LRESULT SetWordAndRepaint(HWND meter, int word, WPARAM value) {
  if (static_cast<WORD>(GetWindowWord(meter, word)) == static_cast<WORD>(value)) return 0;
  SetWindowWord(meter, word, static_cast<WORD>(value));
  InvalidateRect(meter, nullptr, FALSE);
  UpdateWindow(meter);
  return 0;
}

static LRESULT OnCreate(HWND meter) {
  SendMessageA(meter, kMeterSetRange, kInitialRange, 0);
  SendMessageA(meter, kMeterSetPosition, kInitialPosition, 0);
  return 0;
}

static LRESULT CALLBACK MeterWndProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(meter);
    case WM_PAINT: return OnPaint(meter);
    case WM_GETDLGCODE: return DLGC_STATIC;
    case kMeterSetRange: return SetWordAndRepaint(meter, kRangeWord, wParam);
    case kMeterGetRange: return static_cast<WORD>(GetWindowWord(meter, kRangeWord));
    case kMeterSetPosition: return SetWordAndRepaint(meter, kPositionWord, wParam);
    case kMeterGetPosition: return static_cast<WORD>(GetWindowWord(meter, kPositionWord));
  }
  return DefWindowProcA(meter, message, wParam, lParam);
}

void RegisterMeterClass(HINSTANCE instance) {
  WNDCLASSA meterClass;
  FillBytes(&meterClass, 0, sizeof meterClass);
  meterClass.style = CS_HREDRAW | CS_VREDRAW;
  meterClass.lpfnWndProc = MeterWndProc;
  meterClass.cbWndExtra = 4;
  meterClass.hInstance = instance;
  meterClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  meterClass.lpszClassName = kMeterClass;
  RegisterClassA(&meterClass);
}
