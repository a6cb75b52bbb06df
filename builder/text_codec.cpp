// Code page conversions through iconv (see text_codec.h).
#include "builder/text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace {

std::string IconvName(unsigned codePage) { return "CP" + std::to_string(codePage); }

// Converts all of `in` from one iconv encoding to another; false when iconv
// does not know either or a sequence cannot be converted.
bool Convert(const std::string& in, const std::string& from, const std::string& to, std::string* out) {
  iconv_t converter = iconv_open(to.c_str(), from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string source = in;
  out->assign(in.size() * 4 + 4, '\0');
  char* fromAt = source.data();
  char* toAt = out->data();
  size_t fromLeft = source.size(), toLeft = out->size();
  bool ok = iconv(converter, &fromAt, &fromLeft, &toAt, &toLeft) != static_cast<size_t>(-1) &&
            iconv(converter, nullptr, nullptr, &toAt, &toLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  out->resize(out->size() - toLeft);
  return ok;
}

bool IconvKnows(unsigned codePage) {
  iconv_t converter = iconv_open("UTF-8", IconvName(codePage).c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(converter);
  return true;
}

}  // namespace

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

bool IsSupportedCodePage(unsigned codePage) {
  bool windowsAnsi = codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
                     (codePage >= 1250 && codePage <= 1258);
  return windowsAnsi && IconvKnows(codePage);
}

bool IsKnownCodePage(unsigned codePage) { return codePage > 0 && codePage < 65000 && IconvKnows(codePage); }

bool Utf8ToCodePage(const std::string& utf8, unsigned codePage, std::string* out) {
  return Convert(utf8, "UTF-8", IconvName(codePage), out);
}

bool CodePageToUtf8(const std::string& text, unsigned codePage, std::string* out) {
  return Convert(text, IconvName(codePage), "UTF-8", out);
}

bool IsDoubleByteLead(uint8_t byte, unsigned codePage) {
  if (codePage == 932) return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  if (codePage == 936 || codePage == 949 || codePage == 950) return byte >= 0x81 && byte <= 0xFE;
  return false;
}

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!length || i + length > text.size()) return false;
    for (size_t k = 1; k < length; k++)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    // Overlong forms, surrogates and code points above U+10FFFF (RFC 3629).
    unsigned char next = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((length == 2 && c < 0xC2) || (c == 0xE0 && next < 0xA0) || (c == 0xED && next > 0x9F) ||
        (c == 0xF0 && next < 0x90) || (c == 0xF4 && next > 0x8F) || c > 0xF4)
      return false;
    i += length;
  }
  return true;
}

bool IsPlainAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string ShownAsUtf8(const std::string& text, unsigned codePage) {
  return IsValidUtf8(text) ? text : ReadInCodePage(text, codePage);
}

std::string ReadInCodePage(const std::string& text, unsigned codePage) {
  iconv_t converter = iconv_open("UTF-8", IconvName(codePage).c_str());
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
