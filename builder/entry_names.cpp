// Entry names in the archives the builder writes (see entry_names.h).
#include "builder/entry_names.h"

#include "builder/text_codec.h"

#include <zlib.h>

namespace {

constexpr uint16_t kUnicodePathFieldId = 0x7075;  // Info-ZIP Unicode Path extra field
constexpr uint8_t kUnicodePathVersion = 1;
constexpr unsigned kMadeByUnix = 3;  // the high byte of "version made by"

// Format notes (APPNOTE 4.6.9): the Info-ZIP Unicode Path field holds a
// version byte (1), the CRC-32 of the name as stored in the header, and the
// name in UTF-8. Writers such as Info-ZIP zip on Linux store the name bytes
// unflagged and the UTF-8 name here; a CRC that does not match means the
// name was changed by a program that did not know the field, which then no
// longer applies.
bool UnicodePathField(const std::vector<uint8_t>& extra, const std::string& storedName, std::string* utf8_ret) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = GetLe16(&extra[at]), size = GetLe16(&extra[at + 2]);
    if (at + 4 + size > extra.size()) return false;  // a damaged extra block: no field is trusted
    const uint8_t* field = &extra[at + 4];
    if (id == kUnicodePathFieldId && size > 5 && field[0] == kUnicodePathVersion) {
      uint32_t nameCrc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size())));
      if (GetLe32(field + 1) != nameCrc) return false;
      utf8_ret->assign(reinterpret_cast<const char*>(field + 5), size - 5);
      return IsValidUtf8(*utf8_ret);
    }
    at += 4 + size;
  }
  return false;
}

}  // namespace

bool StoreEntryName(const std::string& utf8, const NameEncoding& encoding, ZipEntry* entry, std::string* error_ret) {
  entry->flags &= static_cast<uint16_t>(~kFlagUtf8Name);
  if (IsPlainAscii(utf8)) {
    entry->name = utf8;
    return true;
  }
  if (!encoding.ansiNames) {
    entry->name = utf8;
    entry->flags |= kFlagUtf8Name;
    return true;
  }
  if (Utf8ToCodePage(utf8, encoding.codePage, &entry->name)) return true;
  *error_ret = "the name \"" + utf8 + "\" cannot be written in code page " + std::to_string(encoding.codePage) +
               " (--ansi-names)";
  return false;
}

bool ReadEntryNameAsUtf8(const ZipEntry& entry, const NameEncoding& encoding, std::string* utf8_ret,
                         std::string* error_ret) {
  const std::string& stored = entry.name;
  unsigned zipCodePage = encoding.zipCodePage;
  if (entry.flags & kFlagUtf8Name) {
    *utf8_ret = stored;
    if (IsValidUtf8(stored)) return true;
    *error_ret = "entry \"" + ShownAsUtf8(stored, zipCodePage) + "\" is marked as UTF-8 but its name is not UTF-8";
    return false;
  }
  if (IsPlainAscii(stored)) {
    *utf8_ret = stored;
    return true;
  }
  if (UnicodePathField(entry.centralExtra, stored, utf8_ret) || UnicodePathField(entry.localExtra, stored, utf8_ret))
    return true;
  bool madeOnUnix = (entry.versionMadeBy >> 8) == kMadeByUnix;
  if (!encoding.zipCodePageGiven && madeOnUnix && IsValidUtf8(stored)) {
    *utf8_ret = stored;
    return true;
  }
  if (CodePageToUtf8(stored, zipCodePage, utf8_ret)) return true;
  *error_ret = "entry \"" + ShownAsUtf8(stored, zipCodePage) + "\" has a name that means nothing in code page " +
               std::to_string(zipCodePage) + " (see --zip-codepage)";
  return false;
}

bool RestoreWrappedNames(ZipArchive* archive, const NameEncoding& encoding, std::string* error_ret) {
  for (ZipEntry& entry : archive->entries) {
    std::string utf8;
    if (!ReadEntryNameAsUtf8(entry, encoding, &utf8, error_ret) ||
        !StoreEntryName(utf8, encoding, &entry, error_ret))
      return false;
    if (entry.name.size() > kNameLimit) {
      *error_ret = "entry \"" + utf8.substr(0, 40) + "...\" has a name over 200 bytes once written in " +
                   ((entry.flags & kFlagUtf8Name) ? "UTF-8" : "code page " + std::to_string(encoding.codePage));
      return false;
    }
  }
  return true;
}
