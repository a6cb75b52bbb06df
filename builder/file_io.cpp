// Whole-file reads and atomic writes (see file_io.h).
#include "builder/file_io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary file being written, removed when a signal (Ctrl-C, a CI
// job's timeout) ends the program before it is complete. One slot: the
// builder writes its files one after another. The path is kept in a plain
// buffer, since the handler may only call async-signal-safe functions.
char temporaryToRemove[4096];
volatile sig_atomic_t haveTemporaryToRemove = 0;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveTemporaryAndEnd(int signal) {
  if (haveTemporaryToRemove) unlink(temporaryToRemove);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Handles the ending signals, but leaves alone one that is ignored (as a
// program started with nohup finds SIGHUP).
void WatchTemporary(const std::string& path) {
  static bool installed = false;
  haveTemporaryToRemove = 0;
  if (path.size() >= sizeof temporaryToRemove) return;
  memcpy(temporaryToRemove, path.c_str(), path.size() + 1);
  haveTemporaryToRemove = 1;
  if (installed) return;
  installed = true;
  for (int signal : kEndingSignals) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) ::signal(signal, RemoveTemporaryAndEnd);
  }
}

void ForgetTemporary() { haveTemporaryToRemove = 0; }

}  // namespace

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

AtomicOutputFile::~AtomicOutputFile() {
  if (fd_ < 0) return;
  close(fd_);
  unlink(temporary_.c_str());
  ForgetTemporary();
}

bool AtomicOutputFile::Fail(std::string* error) {
  *error = "cannot write " + path_ + ": " + strerror(errno);
  return false;
}

bool AtomicOutputFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  temporary_ = path + ".partial-XXXXXX";
  fd_ = mkstemp(temporary_.data());
  if (fd_ < 0) return Fail(error);
  WatchTemporary(temporary_);
  return true;
}

bool AtomicOutputFile::Write(const uint8_t* bytes, size_t size, std::string* error) {
  for (size_t written = 0; written < size;) {
    ssize_t put = write(fd_, bytes + written, size - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail(error);
    written += static_cast<size_t>(put);
  }
  return true;
}

bool AtomicOutputFile::WriteAt(uint64_t offset, const uint8_t* bytes, size_t size, std::string* error) {
  for (size_t written = 0; written < size;) {
    ssize_t put = pwrite(fd_, bytes + written, size - written, static_cast<off_t>(offset + written));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail(error);
    written += static_cast<size_t>(put);
  }
  return true;
}

bool AtomicOutputFile::Commit(std::string* error) {
  int fd = fd_;
  fd_ = -1;
  bool closed = fchmod(fd, 0755) == 0;
  closed = close(fd) == 0 && closed;
  bool named = closed && rename(temporary_.c_str(), path_.c_str()) == 0;
  if (!named) {
    Fail(error);
    unlink(temporary_.c_str());
  }
  ForgetTemporary();
  return named;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  AtomicOutputFile file;
  return file.Open(path, error) && file.Write(bytes.data(), bytes.size(), error) && file.Commit(error);
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
