// Whole-file reads and the all-or-nothing write of an output file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes_ret);

// Writes `bytes` to a temporary file beside `path` and renames it to `path`,
// so that a failure never leaves a half-written file under the name.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error_ret);

// A file written piece by piece under a temporary name beside its path
// ("OUT.partial-XXXXXX") and renamed to the path only by Commit, so that a
// failure never leaves a half-written file under the name: the temporary
// file is removed when the object goes without a Commit, and also when
// SIGINT, SIGTERM or SIGHUP ends the program while it is open.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  ~AtomicOutputFile();

  bool Open(const std::string& path, std::string* error_ret);
  // Appends; WriteAt writes over bytes already written.
  bool Write(const uint8_t* bytes, size_t size, std::string* error_ret);
  bool WriteAt(uint64_t offset, const uint8_t* bytes, size_t size, std::string* error_ret);
  // Makes the file executable, closes it and gives it its name.
  bool Commit(std::string* error_ret);

 private:
  bool Fail(std::string* error_ret);
  std::string path_, temporary_;
  int fd_ = -1;
};

// Makes the folders above `path` that do not exist yet, as mkdir -p does.
bool MakeParentFolders(const std::string& path, std::string* error_ret);
