// Whole-file reads and atomic writes (see file_io.h).
#include "builder/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes->clear();
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::string temporary = path + ".partial-XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t put = write(fd, bytes.data() + written, bytes.size() - written);
    if (put <= 0) break;
    written += static_cast<size_t>(put);
  }
  bool ok = written == bytes.size() && fchmod(fd, 0755) == 0 && close(fd) == 0;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool MakeParentFolders(const std::string& path, std::string* error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot make the folder " + folder + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}
