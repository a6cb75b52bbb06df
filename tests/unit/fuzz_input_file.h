// An input file for fuzz targets whose code under test reads a file by its
// name: an anonymous in-memory file (memfd), named through /proc/self/fd,
// rewritten for every input. It costs two system calls per input, and no
// disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzInputFile {
 public:
  FuzzInputFile() : fd_(memfd_create("dravik-fuzz-input", 0)) {
    if (fd_ < 0) abort();  // no in-memory file: the target cannot run
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }

  // Replaces the file's contents by the input.
  void Write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0 || (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))) abort();
  }

  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Sends what the code under test prints to the null device, through the
// C library's stream variables, so that libFuzzer's own output (which holds
// its own copy of stderr) and the sanitizers' reports (written to file
// descriptor 2) still reach the terminal. Returns the original stderr.
inline FILE* SilencePrinting() {
  FILE* original = stderr;
  FILE* null = fopen("/dev/null", "w");
  if (!null) abort();
  stdout = null;
  stderr = null;
  return original;
}
