// libFuzzer target for what `build --zip` does with an untrusted archive:
// every input is read as a ZIP archive (ZIP64 records, methods, offsets),
// AES entries are decrypted with the seeds' password, the entries the
// builder re-encodes are decoded by their libraries and the
// Deflate64 decoder and deflated again, and every entry's data is checked
// as the self-extractor will check it. The same bytes also go to the
// Deflate64 decoder as a raw stream.
//
// Entries that declare more than kLargestEntry bytes are not re-encoded
// here: the decoders stop at the declared size, which may be up to 4 GiB,
// and the fuzzer's memory limit is lower.
//
// Built with clang++ -fsanitize=fuzzer,address,undefined on the builder's
// sources (tests/unit/CMakeLists.txt).
#include "builder/deflate64_decoder.h"
#include "builder/zip_aes.h"
#include "builder/zip_reader.h"
#include "builder/zip_reencode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLargestEntry = 16u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  ZipArchive archive;
  std::string error;
  if (ReadZip(bytes, &archive, &error)) {
    bool small = true;
    for (const ZipEntry& e : archive.entries) small = small && e.uncompressedSize <= kLargestEntry;
    if (small && DecryptAesEntries(&archive, {"pw"}, &error) && ReencodeEntries(&archive, 1, &error))
      CheckEntryData(archive, &error);
  }
  std::vector<uint8_t> out;
  Inflate64(data, size, 1 << 20, &out, &error);
  return 0;
}
