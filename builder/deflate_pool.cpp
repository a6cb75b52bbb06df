// Deflating entries on a pool of threads (see deflate_pool.h).
#include "builder/deflate_pool.h"

#include <libdeflate.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

// The progress line: bytes and files done of the total, and the rate. It is
// written over itself at most a few times a second.
class ProgressLine {
 public:
  ProgressLine(const std::vector<ZipEntry*>& entries, bool shown) : shown_(shown) {
    for (const ZipEntry* entry : entries) totalBytes_ += entry->data.size();
    totalFiles_ = entries.size();
    started_ = lastShown_ = std::chrono::steady_clock::now();
  }

  void EntryDone(size_t bytes) {
    if (!shown_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    doneBytes_ += bytes;
    doneFiles_++;
    auto now = std::chrono::steady_clock::now();
    if (doneFiles_ < totalFiles_ && now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    double seconds = std::chrono::duration<double>(now - started_).count();
    fprintf(stderr, "\rdravik-sfx build: %zu of %zu files, %.1f of %.1f MB, %.1f MB/s   ", doneFiles_, totalFiles_,
            doneBytes_ / 1e6, totalBytes_ / 1e6, seconds > 0 ? doneBytes_ / 1e6 / seconds : 0.0);
    if (doneFiles_ == totalFiles_) fputc('\n', stderr);
    fflush(stderr);
  }

 private:
  bool shown_;
  std::mutex mutex_;
  size_t totalBytes_ = 0, doneBytes_ = 0, totalFiles_ = 0, doneFiles_ = 0;
  std::chrono::steady_clock::time_point started_, lastShown_;
};

// Deflates one entry where that makes it smaller.
void DeflateEntry(ZipEntry& entry, libdeflate_compressor* compressor) {
  if (entry.data.empty()) return;
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, entry.data.size()));
  size_t size = libdeflate_deflate_compress(compressor, entry.data.data(), entry.data.size(), out.data(), out.size());
  if (size == 0 || size >= entry.data.size()) return;  // stored is smaller
  out.resize(size);
  entry.data = std::move(out);
  entry.method = 8;
  entry.versionNeeded = 20;
}

}  // namespace

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, data.size()));
  out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

void DeflateEntries(const std::vector<ZipEntry*>& entries, const DeflateWork& work) {
  ProgressLine progress(entries, work.progress && !entries.empty());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(work.level);
    for (size_t i; (i = next++) < entries.size();) {
      size_t bytes = entries[i]->data.size();
      DeflateEntry(*entries[i], compressor);
      progress.EntryDone(bytes);
    }
    libdeflate_free_compressor(compressor);
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < work.threads && t < entries.size(); t++) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
}

unsigned DefaultThreads() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores ? cores : 1;
}
