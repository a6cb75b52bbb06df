// UTF-8 to the Windows ANSI code pages (see text_codec.h).
#include "builder/text_codec.h"

#include <iconv.h>

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
