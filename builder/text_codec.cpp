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
