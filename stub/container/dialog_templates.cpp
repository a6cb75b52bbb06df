// The main dialog's template.
//
// Until the full main dialog exists this is a stand-in: the standard title,
// one line of text and a Close button, so that a started self-extractor
// shows it got past every check and can be closed.
#include "container/dialog_templates.h"

#include <cstdint>

namespace {

constexpr uint32_t kDialogStyle = 0x90C800C4;  // popup, visible, caption, sysmenu, modal frame, 3D, font
constexpr uint32_t kChildVisible = 0x50000000;
constexpr uint32_t kTabStop = 0x00010000;
constexpr uint32_t kGroup = 0x00020000;
constexpr uint32_t kDefPushButton = 0x1;
constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kStaticAtom = 0x0082;
constexpr uint16_t kCloseId = 2;
constexpr uint16_t kTextId = 101;

#pragma pack(push, 2)
struct StandInTemplate {
  // DLGTEMPLATE
  uint32_t style, exStyle;
  uint16_t itemCount;
  int16_t x, y, cx, cy;
  uint16_t menu, windowClass;
  char16_t title[22];
  uint16_t pointSize;
  char16_t font[13];
  uint16_t align1;  // items start on 4-byte boundaries
  // static text
  uint32_t textStyle, textExStyle;
  int16_t textX, textY, textCx, textCy;
  uint16_t textId, textClassMarker, textClass;
  char16_t text[36];
  uint16_t textExtra;
  // Close button
  uint32_t buttonStyle, buttonExStyle;
  int16_t buttonX, buttonY, buttonCx, buttonCy;
  uint16_t buttonId, buttonClassMarker, buttonClass;
  char16_t buttonText[7];
  uint16_t buttonExtra;
  // The loader copies a fixed 1,024-byte block; the rest stays zero.
  uint8_t tail[1024 - 230];
};
#pragma pack(pop)
static_assert(__builtin_offsetof(StandInTemplate, textStyle) % 4 == 0);
static_assert(__builtin_offsetof(StandInTemplate, buttonStyle) % 4 == 0);
static_assert(sizeof(StandInTemplate) == 1024);

const StandInTemplate kStandIn = {
    kDialogStyle, 0, 2, 94, 23, 230, 60, 0, 0, u"Dravik Self-Extractor", 8, u"MS Shell Dlg", 0,
    kChildVisible | kGroup, 0, 6, 6, 218, 24, kTextId, 0xFFFF, kStaticAtom,
    u"Ready to unzip this self-extractor.", 0,
    kChildVisible | kTabStop | kDefPushButton, 0, 174, 40, 50, 14, kCloseId, 0xFFFF, kButtonAtom,
    u"&Close", 0, {},
};

}  // namespace

const void* MainDialogTemplate() { return &kStandIn; }
