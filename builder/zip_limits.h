// The classic ZIP format's limits, which the self-extractor reads within,
// and the check `build --zip` makes on an input file before reading it:
// an archive written with ZIP64 records is taken when every count, size and
// offset in it fits the classic records; one that really needs ZIP64 is
// refused at once, from its end records and central directory alone, with
// the limit it breaks and by how much.
#pragma once

#include <cstdint>
#include <string>

// At most 65,535 entries: the end record's counts are 16 bits.
constexpr uint64_t kEntryCountLimit = 0xFFFF;
// Entries under 4 GiB: the headers' sizes are 32 bits, and 0xFFFFFFFF is
// the marker that sends a reader to the ZIP64 extra field.
constexpr uint64_t kEntrySizeLimit = 0xFFFFFFFF;
// Archives under 2 GiB: the stub seeks with signed 32-bit offsets.
constexpr uint64_t kArchiveSizeLimit = 0x7FFFFFFF;

// The refusals, one line each, naming the limit and by how much it is broken.
std::string EntryCountRefusal(uint64_t count);
std::string EntrySizeRefusal(const std::string& name, uint64_t size);
std::string ArchiveSizeRefusal(uint64_t size);

// False with *error_ret set when the ZIP archive in the file at `path`
// breaks one of the limits above, judged from its end records and central
// directory (the entries' data is not read); true otherwise, including when
// those records are damaged: ReadZip then says what is wrong.
bool CheckZipFileFitsClassic(const std::string& path, std::string* error_ret);
