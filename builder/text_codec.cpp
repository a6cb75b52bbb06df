// UTF-8 to the Windows ANSI code pages (see text_codec.h).
#include "builder/text_codec.h"

#include <iconv.h>

#include <cerrno>

bool IsSupportedCodePage(unsigned codePage) { return codePage == 1252 || codePage == 932; }

bool Utf8ToCodePage(const std::string& utf8, unsigned codePage, std::string* out) {
  iconv_t converter = iconv_open(codePage == 932 ? "CP932" : "CP1252", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = utf8;
  out->assign(utf8.size() * 2 + 4, '\0');
  char* from = in.data();
  char* to = out->data();
  size_t fromLeft = in.size(), toLeft = out->size();
  bool ok = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  out->resize(out->size() - toLeft);
  return ok;
}

bool Utf8ToUtf16(const std::string& utf8, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!length || i + length > utf8.size()) return false;
    char32_t point = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; k++) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next >> 6) != 2) return false;
      point = point << 6 | (next & 0x3F);
    }
    static const char32_t kShortestFrom[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kShortestFrom[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return false;
    if (point >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); i++) {
    char32_t point = utf16[i];
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000)
      point = 0x10000 + ((point - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    else if (point >= 0xD800 && point < 0xE000)
      point = 0xFFFD;
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | point >> 6);
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | point >> 12);
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | point >> 18);
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return out;
}

bool IsDoubleByteLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

namespace {

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!length || i + length > text.size()) return false;
    for (size_t k = 1; k < length; k++)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string ShownAsUtf8(const std::string& text, unsigned codePage) {
  if (IsValidUtf8(text)) return text;
  iconv_t converter = iconv_open("UTF-8", codePage == 932 ? "CP932" : "CP1252");
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  std::string shown;
  char* from = const_cast<char*>(text.data());
  size_t fromLeft = text.size();
  while (fromLeft > 0) {
    char buffer[256];
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    size_t done = iconv(converter, &from, &fromLeft, &to, &toLeft);
    shown.append(buffer, to);
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {  // a byte the code page lacks
      shown += '?';
      from++;
      fromLeft--;
    }
  }
  iconv_close(converter);
  return shown;
}
