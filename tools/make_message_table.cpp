// make_message_table: generates the stub's compressed message table.
//
// Usage: make_message_table OUT_DIR
// Writes OUT_DIR/message_record.h and OUT_DIR/message_record.cpp: the
// record the stub carries in its initialised data, in this order:
//   offset table   one 32-bit offset per text, then one for the main dialog
//                  template (which is also the length of the text part)
//   message block  raw deflate of the texts (NUL-terminated, OEM code page
//                  437) followed by the main dialog template
//   password block at the next 4-byte boundary: raw deflate of the password
//                  dialog template
//   license block  at the next 4-byte boundary: raw deflate of the license
//                  page's template
// Both blocks are compressed at zlib's highest level and checked by
// unpacking them with the stub's own decoder: each must give exactly the
// expected bytes from exactly its stored length.
#include "archive/inflate.h"
#include "base/sfx_state.h"
#include "container/message_table.h"

#include <iconv.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const kTexts[] = {
#define MESSAGE(name, text) text,
#include "container/message_texts.inc"
#undef MESSAGE
};
static_assert(sizeof kTexts / sizeof kTexts[0] == MsgCount);

constexpr unsigned kPasswordTemplateLimit = 600;  // the buffer the stub unpacks it into
constexpr unsigned kLicenseTemplateLimit = 600;   // likewise

[[noreturn]] void Fail(const std::string& why) {
  fprintf(stderr, "make_message_table: %s\n", why.c_str());
  exit(1);
}

// ---- dialog templates ------------------------------------------------------

// Window and control styles used by the templates.
constexpr uint32_t WS_CHILD_ = 0x40000000, WS_VISIBLE_ = 0x10000000, WS_BORDER_ = 0x00800000;
constexpr uint32_t WS_GROUP_ = 0x00020000, WS_TABSTOP_ = 0x00010000;
constexpr uint32_t SS_CENTER_ = 0x1, SS_NOPREFIX_ = 0x80;
constexpr uint32_t WS_VSCROLL_ = 0x00200000;
constexpr uint32_t ES_MULTILINE_ = 0x4, ES_PASSWORD_ = 0x20, ES_AUTOVSCROLL_ = 0x40, ES_AUTOHSCROLL_ = 0x80;
constexpr uint32_t ES_READONLY_ = 0x800;
constexpr uint32_t BS_PUSHBUTTON_ = 0x0, BS_DEFPUSHBUTTON_ = 0x1, BS_AUTOCHECKBOX_ = 0x3;
// WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_3DLOOK, DS_SETFONT
constexpr uint32_t kDialogStyle = 0x90C800C4;

// Standard control classes by ordinal; the meter by its class name.
constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
constexpr uint16_t kNamedClass = 0;

struct ControlSpec {
  uint16_t id;
  uint16_t classOrdinal;  // kNamedClass: the class is `className`
  const char* className;
  const char* text;
  uint32_t style;  // besides WS_CHILD and WS_VISIBLE
  int16_t x, y, cx, cy;
};

struct DialogSpec {
  const char* title;
  int16_t x, y, cx, cy;
  std::vector<ControlSpec> controls;
};

// Writes the in-memory template format: DLGTEMPLATE, then one
// DLGITEMTEMPLATE per control on a 4-byte boundary; texts in UTF-16.
class TemplateWriter {
 public:
  std::vector<uint8_t> Write(const DialogSpec& dialog) {
    bytes_.clear();
    U32(kDialogStyle);
    U32(0);  // no extended style
    U16(static_cast<uint16_t>(dialog.controls.size()));
    Coordinates(dialog.x, dialog.y, dialog.cx, dialog.cy);
    U16(0);  // no menu
    U16(0);  // the default dialog class
    Text(dialog.title);
    U16(8);  // point size of the font
    Text("MS Shell Dlg");
    for (const ControlSpec& control : dialog.controls) Item(control);
    return bytes_;
  }

 private:
  void Item(const ControlSpec& c) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    U32(WS_CHILD_ | WS_VISIBLE_ | c.style);
    U32(0);
    Coordinates(c.x, c.y, c.cx, c.cy);
    U16(c.id);
    if (c.classOrdinal == kNamedClass) {
      Text(c.className);
    } else {
      U16(0xFFFF);
      U16(c.classOrdinal);
    }
    Text(c.text);
    U16(0);  // no creation data
  }
  void Coordinates(int16_t x, int16_t y, int16_t cx, int16_t cy) {
    for (int16_t v : {x, y, cx, cy}) U16(static_cast<uint16_t>(v));
  }
  void Text(const char* ascii) {
    for (const char* p = ascii; *p; p++) U16(static_cast<uint8_t>(*p));
    U16(0);
  }
  void U16(uint16_t v) {
    bytes_.push_back(v & 0xFF);
    bytes_.push_back(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  std::vector<uint8_t> bytes_;
};

DialogSpec MainDialog() {
  return {"", 94, 23, 230, 117, {
      {101, kStatic, nullptr, "", WS_GROUP_ | SS_NOPREFIX_, 6, 6, 162, 24},
      {105, kStatic, nullptr, "Unzip to &folder: ", WS_GROUP_, 6, 34, 74, 8},
      {106, kEdit, nullptr, "", WS_BORDER_ | WS_TABSTOP_ | ES_AUTOHSCROLL_, 6, 43, 108, 12},
      {115, kButton, nullptr, "&Browse...", WS_TABSTOP_ | BS_PUSHBUTTON_, 118, 42, 50, 14},
      {102, kButton, nullptr, "&Overwrite files without prompting", WS_TABSTOP_ | BS_AUTOCHECKBOX_, 6, 59, 161, 10},
      {111, kButton, nullptr, "", WS_TABSTOP_ | BS_AUTOCHECKBOX_, 6, 73, 166, 10},
      {1, kButton, nullptr, "&Unzip", WS_TABSTOP_ | BS_DEFPUSHBUTTON_, 174, 6, 50, 14},
      {113, kButton, nullptr, "Run &Dravik", WS_TABSTOP_ | BS_PUSHBUTTON_, 174, 24, 50, 14},
      {2, kButton, nullptr, "&Close", WS_TABSTOP_ | BS_PUSHBUTTON_, 174, 42, 50, 14},
      {112, kButton, nullptr, "&About", WS_TABSTOP_ | BS_PUSHBUTTON_, 174, 60, 50, 14},
      {104, kButton, nullptr, "&Help", WS_TABSTOP_ | BS_PUSHBUTTON_, 174, 78, 50, 14},
      {103, kStatic, nullptr, "", WS_GROUP_ | SS_NOPREFIX_, 17, 85, 153, 8},
      {109, kStatic, nullptr, "", WS_GROUP_ | SS_CENTER_ | SS_NOPREFIX_, 0, 104, 230, 8},
      {201, kNamedClass, "meter", "", WS_BORDER_, 6, 101, 218, 12},
  }};
}

DialogSpec PasswordDialog() {
  return {"Dravik Self-Extractor - Password", 71, 71, 186, 76, {
      {401, kStatic, nullptr,
       "This self-extracting Zip file is password protected.\n\nPlease type the &password:", WS_GROUP_, 6, 6,
       174, 24},
      {402, kEdit, nullptr, "", WS_BORDER_ | WS_TABSTOP_ | ES_PASSWORD_ | ES_AUTOHSCROLL_, 6, 38, 174, 12},
      {1, kButton, nullptr, "OK", WS_TABSTOP_ | BS_DEFPUSHBUTTON_, 35, 56, 50, 14},
      {2, kButton, nullptr, "Cancel", WS_TABSTOP_ | BS_PUSHBUTTON_, 101, 56, 50, 14},
  }};
}

// The license page: the publisher's text, read-only and scrolled, and the
// two answers. Its title is set at run time.
DialogSpec LicenseDialog() {
  return {"", 0, 0, 260, 200, {
      {301, kStatic, nullptr,
       "Please read the following license agreement. Press Accept to go on, or Decline to end without "
       "unpacking anything.", WS_GROUP_ | SS_NOPREFIX_, 6, 6, 248, 18},
      {302, kEdit, nullptr, "",
       WS_BORDER_ | WS_VSCROLL_ | WS_TABSTOP_ | ES_MULTILINE_ | ES_AUTOVSCROLL_ | ES_READONLY_, 6, 28, 248, 144},
      {1, kButton, nullptr, "&Accept", WS_TABSTOP_ | BS_DEFPUSHBUTTON_, 148, 180, 50, 14},
      {2, kButton, nullptr, "&Decline", WS_TABSTOP_ | BS_PUSHBUTTON_, 204, 180, 50, 14},
  }};
}

// ---- texts ----------------------------------------------------------------

// The text in the OEM code page 437, as the stub stores it.
std::string ToOem437(const char* text) {
  iconv_t converter = iconv_open("CP437", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) Fail("no UTF-8 to CP437 converter");
  std::string in = text, out(in.size() * 4 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t fromLeft = in.size(), toLeft = out.size();
  if (iconv(converter, &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1))
    Fail(std::string("text not representable in code page 437: ") + text);
  iconv_close(converter);
  out.resize(out.size() - toLeft);
  return out;
}

// ---- compression and the check ------------------------------------------------

std::vector<uint8_t> RawDeflateBest(const std::vector<uint8_t>& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) Fail("deflateInit2");
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) Fail("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Unpacks `stream` with the stub's decoder into a target of exactly the
// expected size; fails unless it gives exactly `expected` from exactly the
// stream's bytes, with no look-ahead past its end.
void CheckWithStubDecoder(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& expected,
                          const char* what) {
  std::vector<BYTE> window(kSlideWindowAlloc);
  Sfx.SlideWindow = window.data();
  std::vector<BYTE> target(expected.size());
  int result = InflateToMemory(stream.data(), static_cast<UINT>(stream.size()), target.data(),
                               static_cast<UINT>(target.size()));
  if (result != kInflateOk) Fail(std::string(what) + ": the stub's decoder fails on it");
  if (Sfx.BlockCursor != target.data() + target.size() || target != expected)
    Fail(std::string(what) + ": the stub's decoder gives other bytes");
  if (Sfx.InputAvailable != 0 || Sfx.InputOverrun != 0)
    Fail(std::string(what) + ": the stub's decoder does not end exactly at the stream's end");
}

// ---- output -------------------------------------------------------------------

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back((v >> (8 * i)) & 0xFF);
}

void WriteOutputs(const std::string& dir, const std::vector<uint8_t>& record, size_t messageBlockOffset,
                  size_t messageBlockSize, size_t inflatedSize, size_t mainTemplateOffset,
                  size_t passwordBlockOffset, size_t passwordBlockSize, size_t passwordTemplateSize,
                  size_t licenseBlockOffset, size_t licenseBlockSize, size_t licenseTemplateSize) {
  const char* stamp =
      "// Generated by tools/make_message_table from stub/container/message_texts.inc and the\n"
      "// dialog layouts in that tool; do not edit.\n";
  std::ofstream header(dir + "/message_record.h");
  header << stamp << "#pragma once\n\n"
         << "constexpr unsigned kMessageRecordOffsets = " << MsgCount + 1 << ";\n"
         << "constexpr unsigned kMessageBlockOffset = " << messageBlockOffset << ";\n"
         << "constexpr unsigned kMessageBlockSize = " << messageBlockSize << ";  // compressed\n"
         << "constexpr unsigned kMessageInflatedSize = " << inflatedSize << ";\n"
         << "constexpr unsigned kMainTemplateOffset = " << mainTemplateOffset << ";\n"
         << "constexpr unsigned kPasswordBlockOffset = " << passwordBlockOffset << ";\n"
         << "constexpr unsigned kPasswordBlockSize = " << passwordBlockSize << ";  // compressed\n"
         << "constexpr unsigned kPasswordTemplateSize = " << passwordTemplateSize << ";\n"
         << "constexpr unsigned kLicenseBlockOffset = " << licenseBlockOffset << ";\n"
         << "constexpr unsigned kLicenseBlockSize = " << licenseBlockSize << ";  // compressed\n"
         << "constexpr unsigned kLicenseTemplateSize = " << licenseTemplateSize << ";\n"
         << "constexpr unsigned kMessageRecordSize = " << record.size() << ";\n\n"
         << "extern const unsigned char MessageRecord[kMessageRecordSize];\n";
  std::ofstream source(dir + "/message_record.cpp");
  source << stamp << "#include \"message_record.h\"\n\nconst unsigned char MessageRecord[kMessageRecordSize] = {";
  for (size_t i = 0; i < record.size(); i++) {
    if (i % 16 == 0) source << "\n   ";
    char hex[8];
    snprintf(hex, sizeof hex, " 0x%02x,", record[i]);
    source << hex;
  }
  source << "\n};\n";
  if (!header || !source) Fail("cannot write the outputs to " + dir);
}

}  // namespace

// The generator links the decoder without the table it is making: its texts
// come straight from the list.
LPCSTR MsgText(UINT n) { return kTexts[n]; }
void LoadMessageTable() {}

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: make_message_table OUT_DIR");
  TemplateWriter writer;
  std::vector<uint8_t> mainTemplate = writer.Write(MainDialog());
  std::vector<uint8_t> passwordTemplate = writer.Write(PasswordDialog());
  std::vector<uint8_t> licenseTemplate = writer.Write(LicenseDialog());

  std::vector<uint8_t> block;
  std::vector<uint32_t> offsets;
  for (const char* text : kTexts) {
    offsets.push_back(static_cast<uint32_t>(block.size()));
    std::string oem = ToOem437(text);
    block.insert(block.end(), oem.begin(), oem.end());
    block.push_back(0);
  }
  size_t mainTemplateOffset = block.size();
  offsets.push_back(static_cast<uint32_t>(mainTemplateOffset));
  block.insert(block.end(), mainTemplate.begin(), mainTemplate.end());
  if (block.size() > kMessageTableSentinelAt) Fail("the texts and the main template do not fit the table");
  if (mainTemplateOffset + kMainTemplateCopySize > kMessageTableSize)
    Fail("the main template cannot be copied whole from the table");
  if (passwordTemplate.size() > kPasswordTemplateLimit) Fail("the password template is too large");
  if (licenseTemplate.size() > kLicenseTemplateLimit) Fail("the license template is too large");

  std::vector<uint8_t> messageStream = RawDeflateBest(block);
  std::vector<uint8_t> passwordStream = RawDeflateBest(passwordTemplate);
  CheckWithStubDecoder(messageStream, block, "message block");
  std::vector<uint8_t> licenseStream = RawDeflateBest(licenseTemplate);
  CheckWithStubDecoder(passwordStream, passwordTemplate, "password block");
  CheckWithStubDecoder(licenseStream, licenseTemplate, "license block");

  std::vector<uint8_t> record;
  for (uint32_t offset : offsets) AppendU32(record, offset);
  size_t messageBlockOffset = record.size();
  record.insert(record.end(), messageStream.begin(), messageStream.end());
  while (record.size() % 4) record.push_back(0);
  size_t passwordBlockOffset = record.size();
  record.insert(record.end(), passwordStream.begin(), passwordStream.end());
  while (record.size() % 4) record.push_back(0);
  size_t licenseBlockOffset = record.size();
  record.insert(record.end(), licenseStream.begin(), licenseStream.end());
  WriteOutputs(argv[1], record, messageBlockOffset, messageStream.size(), block.size(), mainTemplateOffset,
               passwordBlockOffset, passwordStream.size(), passwordTemplate.size(), licenseBlockOffset,
               licenseStream.size(), licenseTemplate.size());
  printf("make_message_table: %zu texts, text part %zu bytes, main template %zu, block %zu -> %zu; "
         "password template %zu -> %zu; license template %zu -> %zu\n",
         static_cast<size_t>(MsgCount), mainTemplateOffset, mainTemplate.size(), block.size(),
         messageStream.size(), passwordTemplate.size(), passwordStream.size(), licenseTemplate.size(),
         licenseStream.size());
  return 0;
}
