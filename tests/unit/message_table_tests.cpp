// The unpacked message table: every text in its place, the main dialog
// template behind the texts, the password template, and the OEM to ANSI
// conversion of the texts.
#include "archive/stored_texts.h"
#include "base/sfx_state.h"
#include "container/dialog_templates.h"
#include "container/message_table.h"
#include "message_record.h"
#include "platform/host/host_control.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kExpectedTexts[] = {
#define MESSAGE(name, text) text,
#include "container/message_texts.inc"
#undef MESSAGE
};

class MessageTable : public ::testing::Test {
 protected:
  void SetUp() override { ResetStubAndHost(); }
};

TEST_F(MessageTable, EveryTextIsInItsPlace) {
  EXPECT_EQ(MsgText(0), Sfx.MessageTable);
  for (UINT n = 0; n < MsgCount; n++) EXPECT_STREQ(MsgText(n), kExpectedTexts[n]) << "text " << n;
  EXPECT_STREQ(MsgText(MsgZipDamaged),
               "Zip file is damaged, truncated, or has been changed since it was created.   If you downloaded "
               "this file, try downloading again.");
}

TEST_F(MessageTable, MainTemplateFollowsTheLastText) {
  const char* last = MsgText(MsgCount - 1);
  EXPECT_EQ(static_cast<const void*>(last + strlen(last) + 1), MainDialogTemplate());
  EXPECT_EQ(MsgText(MsgCount) - MsgText(0), static_cast<long>(kMainTemplateOffset));
}

// Reads the DLGTEMPLATE header of a template: style and control count.
struct TemplateHeader {
  uint32_t style;
  uint16_t controls;
  int16_t x, y, cx, cy;
};

TemplateHeader ReadHeader(const uint8_t* t) {
  TemplateHeader h;
  memcpy(&h.style, t, 4);
  memcpy(&h.controls, t + 8, 2);
  memcpy(&h.x, t + 10, 2);
  memcpy(&h.y, t + 12, 2);
  memcpy(&h.cx, t + 14, 2);
  memcpy(&h.cy, t + 16, 2);
  return h;
}

TEST_F(MessageTable, MainTemplateLayoutAndZeroTail) {
  const uint8_t* t = static_cast<const uint8_t*>(MainDialogTemplate());
  TemplateHeader h = ReadHeader(t);
  EXPECT_EQ(h.style, 0x90C800C4u);
  EXPECT_EQ(h.controls, 14);
  EXPECT_EQ((std::vector<int>{h.x, h.y, h.cx, h.cy}), (std::vector<int>{94, 23, 230, 117}));
  size_t templateSize = kMessageInflatedSize - kMainTemplateOffset;
  for (size_t i = templateSize; i < kMainTemplateCopySize; i++)
    ASSERT_EQ(t[i], 0) << "byte " << i << " of the 1,024 copied";
}

TEST_F(MessageTable, PasswordTemplateUnpacksWithinItsBuffer) {
  std::vector<BYTE> window(kSlideWindowAlloc);
  Sfx.SlideWindow = window.data();
  std::vector<BYTE> target(600, 0);
  ASSERT_EQ(InflatePasswordTemplate(target.data(), static_cast<UINT>(target.size())), 0);
  EXPECT_EQ(Sfx.BlockCursor - target.data(), static_cast<long>(kPasswordTemplateSize));
  TemplateHeader h = ReadHeader(target.data());
  EXPECT_EQ(h.controls, 4);
  EXPECT_EQ((std::vector<int>{h.x, h.y, h.cx, h.cy}), (std::vector<int>{71, 71, 186, 76}));
  // The title follows the empty menu and class: "Dravik Self-Extractor - Password" in UTF-16.
  std::string title;
  for (const uint8_t* p = target.data() + 22; p[0] || p[1]; p += 2) title += static_cast<char>(p[0]);
  EXPECT_EQ(title, "Dravik Self-Extractor - Password");
}

TEST(OemConversion, HighBytesBecomeTheSameGlyphInTheAnsiCodePage) {
  HostReset();
  const char oem[] = "\x82t\x82";  // "été" in code page 437
  char ansi[sizeof oem];
  OemToCharBuffA(oem, ansi, sizeof oem - 1);
  ansi[sizeof oem - 1] = '\0';
  EXPECT_STREQ(ansi, "\xE9t\xE9");  // in code page 1252
}

}  // namespace
