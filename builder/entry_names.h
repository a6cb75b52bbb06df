// How entry names are stored in the archives the builder writes.
//
// A plain ASCII name is stored as it is. Any other name is stored in UTF-8
// with general-purpose flag bit 11 set, which every current ZIP reader
// honours and the self-extractor creates through the wide-character API; or,
// with --ansi-names, in the ANSI code page (--codepage), unflagged, for
// systems without the wide API. Names of a wrapped archive are first read
// as their writer meant them: UTF-8 when flagged, else the Info-ZIP Unicode
// Path field when it belongs to the name, else the code page the ZIP
// application note names for unflagged names (437), or the one given with
// --zip-codepage. Without --zip-codepage, an unflagged name that an archive
// made on Unix holds in valid UTF-8 is taken as UTF-8: Info-ZIP zip and
// others on Linux store the file system's (UTF-8) names so, unflagged, and
// read in code page 437 "café" would become "caf├⌐".
#pragma once

#include "builder/zip_model.h"

#include <string>

struct NameEncoding {
  bool ansiNames = false;       // --ansi-names: store in the code page, unflagged
  unsigned codePage = 1252;     // --codepage: the ANSI code page for --ansi-names
  unsigned zipCodePage = 437;   // --zip-codepage: unflagged names of a wrapped archive
  bool zipCodePageGiven = false;
};

// Stores the UTF-8 name `utf8` in entry (its name and flag bit 11) as the
// encoding says; false, with the reason, when --ansi-names is asked for and
// the code page cannot represent it.
bool StoreEntryName(const std::string& utf8, const NameEncoding& encoding, ZipEntry* entry, std::string* error_ret);

// The name of an entry read from an archive, as UTF-8 (see above); false,
// with the reason, when a flagged name is not well-formed UTF-8 or an
// unflagged one means nothing in the code page.
bool ReadEntryNameAsUtf8(const ZipEntry& entry, const NameEncoding& encoding, std::string* utf8_ret,
                         std::string* error_ret);

// Every entry name of a wrapped archive re-stored as the encoding says;
// the entries' data stay as they are.
bool RestoreWrappedNames(ZipArchive* archive, const NameEncoding& encoding, std::string* error_ret);
