// Making entries on a pool of threads (see deflate_pool.h).
#include "builder/deflate_pool.h"

#include <libdeflate.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Whether the progress line counts the entry: a file with data to deflate.
bool IsDeflated(const ZipEntry& entry) {
  return entry.uncompressedSize > 0 && !IsFolderEntry(entry);
}

// The progress line: bytes and files deflated of the total, and the rate. It
// is written over itself at most a few times a second.
class ProgressLine {
 public:
  ProgressLine(const std::vector<ZipEntry>& entries, bool shown) : shown_(shown) {
    for (const ZipEntry& entry : entries) {
      totalBytes_ += entry.uncompressedSize;
      totalFiles_ += IsDeflated(entry);
    }
    started_ = lastShown_ = std::chrono::steady_clock::now();
  }

  void EntryDone(const ZipEntry& entry) {
    if (!shown_ || !IsDeflated(entry)) return;
    size_t bytes = entry.uncompressedSize;
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

// Deflates one entry where that makes it smaller. The output buffer is left
// uninitialised, so that only the pages the compressor writes are ever
// touched, and the input is freed before the output is copied to its size:
// the entry holds at most its data and its deflated data at once.
void DeflateEntry(ZipEntry& entry, libdeflate_compressor* compressor) {
  if (entry.data.empty()) return;
  size_t bound = libdeflate_deflate_compress_bound(compressor, entry.data.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[bound]);
  size_t size = libdeflate_deflate_compress(compressor, entry.data.data(), entry.data.size(), out.get(), bound);
  if (size == 0 || size >= entry.data.size()) return;  // stored is smaller
  entry.data = std::vector<uint8_t>();
  entry.data.assign(out.get(), out.get() + size);
  entry.method = 8;
  entry.versionNeeded = 20;
}

// The entries in work, in the order they are started and taken, and the
// memory they hold as the budget counts it. Workers start entries in index
// order, so the next entry to take is always started already or next.
class EntryQueue {
 public:
  EntryQueue(const std::vector<ZipEntry>& entries, uint64_t budget)
      : budget_(budget), failed_(entries.size()), errors_(entries.size()), done_(entries.size()) {
    for (const ZipEntry& entry : entries) costs_.push_back(2 * uint64_t{entry.uncompressedSize});
  }

  // The next entry to make once the budget allows; false when there is none
  // left or the work has stopped.
  bool Start(size_t* index_ret) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return stopped_ || next_ >= costs_.size() || inWork_ == 0 || inWork_ + costs_[next_] <= budget_;
    });
    if (stopped_ || next_ >= costs_.size()) return false;
    inWork_ += costs_[next_];
    *index_ret = next_++;
    return true;
  }

  void Done(size_t index, bool ok, const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[index] = true;
    failed_[index] = !ok;
    errors_[index] = error;
    changed_.notify_all();
  }

  // Waits for entry `index`; false with its failure.
  bool WaitFor(size_t index, std::string* error_ret) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return static_cast<bool>(done_[index]); });
    if (failed_[index]) *error_ret = errors_[index];
    return !failed_[index];
  }

  // Entry `index` is taken: its memory no longer counts.
  void Taken(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    inWork_ -= costs_[index];
    changed_.notify_all();
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const uint64_t budget_;
  std::vector<uint64_t> costs_;  // what each entry holds in work: its data and an output buffer
  std::vector<char> failed_;
  std::vector<std::string> errors_;
  std::vector<char> done_;
  size_t next_ = 0;
  uint64_t inWork_ = 0;
  bool stopped_ = false;
};

}  // namespace

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, data.size()));
  out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

bool MakeEntries(std::vector<ZipEntry>& entries, const LoadEntry& load, const TakeEntry& take, const DeflateWork& work,
                 std::string* error_ret) {
  ProgressLine progress(entries, work.progress && work.level > 0);
  EntryQueue queue(entries, work.memoryBudget);
  auto worker = [&] {
    libdeflate_compressor* compressor = work.level > 0 ? libdeflate_alloc_compressor(work.level) : nullptr;
    for (size_t i; queue.Start(&i);) {
      std::string error;
      bool ok = load(i, entries[i], &error);
      if (ok && compressor) DeflateEntry(entries[i], compressor);
      progress.EntryDone(entries[i]);
      queue.Done(i, ok, error);
    }
    if (compressor) libdeflate_free_compressor(compressor);
  };
  // The calling thread takes the entries in order while the workers make them.
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < work.threads && t < entries.size(); t++) pool.emplace_back(worker);
  bool ok = true;
  for (size_t i = 0; ok && i < entries.size(); i++) {
    ok = queue.WaitFor(i, error_ret) && take(i, entries[i], error_ret);
    queue.Taken(i);
  }
  queue.Stop();
  for (std::thread& thread : pool) thread.join();
  return ok;
}

unsigned DefaultThreads() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores ? cores : 1;
}
