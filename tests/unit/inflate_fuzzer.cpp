// libFuzzer target for the deflate decoder: every input is an untrusted raw
// deflate stream, decoded twice.
//
//   1. Memory mode into a 256 KiB target: the target, the window and the
//      input are separate heap blocks of exactly their sizes, so the address
//      sanitizer sees any byte read past the input or written past the
//      window or the target. The target, the window and the output block
//      are made once for the whole run (making a 256 KiB block per input
//      cost a fresh mapping and its page faults every time); the input is
//      copied per input, since its size changes.
//   2. As an entry is extracted: the same bytes through the 32 KiB window
//      and the 64 KiB output block (allocated with the 20 spare bytes the
//      stub gives it), full blocks written to the null device, so window
//      flushes, block flushes and matches across the window's end all run.
//
// Built with clang++ -fsanitize=fuzzer,address,undefined on the stub's own
// sources and the host platform layer (tests/unit/CMakeLists.txt).
#include "archive/inflate.h"
#include "base/sfx_state.h"
#include "output/output_writer.h"
#include "platform/host/host_control.h"
#include "util/crc32.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The stub's state lives in the start-up sequence, which is not linked here.
SfxState Sfx;

namespace {

constexpr size_t kMemoryTargetSize = 256 * 1024;
constexpr size_t kOutputBlockAlloc = kIoChunkSize + 20;

// A heap copy of the input of exactly its size (the fuzzer's own buffer may
// be larger than the input it holds).
BYTE* CopyInput(const uint8_t* data, size_t size) {
  BYTE* copy = static_cast<BYTE*>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  return copy;
}

void DecodeInMemory(const uint8_t* data, size_t size, BYTE* target) {
  BYTE* input = CopyInput(data, size);
  int result = InflateToMemory(input, static_cast<UINT>(size), target, kMemoryTargetSize);
  if (result < kInflateOk || result > kInflateBadBlock) abort();  // a result code no caller knows
  if (Sfx.BlockCursor < target || Sfx.BlockCursor > target + kMemoryTargetSize) abort();
  free(input);
}

void DecodeThroughOutputBlock(const uint8_t* data, size_t size, BYTE* block) {
  BYTE* input = CopyInput(data, size);
  Sfx.InputCursor = input;
  Sfx.InputAvailable = static_cast<LONG>(size);
  Sfx.LocalHeader.CompressedSize = 0;  // nothing to refill from: the input ends with these bytes
  Sfx.OutputFile = _lcreat("fuzz-output", 0);  // the null device in a dry run
  Sfx.OutputBlock = Sfx.BlockCursor = block;
  Sfx.BlockFill = 0;
  Sfx.BytesWritten = 0;
  int result = Inflate();
  if (result < kInflateOk || result > kInflateBadBlock) abort();
  if (Sfx.BlockFill >= kIoChunkSize) abort();  // a full block left unwritten
  if (Sfx.BlockFill) FlushBlock();
  _lclose(Sfx.OutputFile);
  Sfx.OutputFile = 0;
  Sfx.InputCursor = nullptr;
  free(input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static BYTE* window = [] {
    HostReset();
    HostSetDryRun(true);
    BuildCrcTable();
    Sfx.MessageBuffer = static_cast<LPSTR>(malloc(kMessageBufferSize));
    return static_cast<BYTE*>(calloc(kSlideWindowAlloc, 1));
  }();
  static BYTE* const memory_target = static_cast<BYTE*>(malloc(kMemoryTargetSize));
  static BYTE* const output_block = static_cast<BYTE*>(malloc(kOutputBlockAlloc));
  Sfx.SlideWindow = window;
  Sfx.InputByte = 0;  // each input starts as if it were the first stream

  // A failed write or allocation ends the run through the recovery point.
  jmp_buf recovery;
  Sfx.ActiveRecovery = &recovery;
  if (setjmp(recovery) != 0) abort();  // the null device took every block; nothing should fail here

  DecodeInMemory(data, size, memory_target);
  Sfx.InputByte = 0;
  DecodeThroughOutputBlock(data, size, output_block);
  Sfx.ActiveRecovery = nullptr;
  // The host platform holds every block it handed out (so the leak checker
  // cannot see them): a Huffman table left behind shows here instead.
  if (HostBlocksHeld() != 0) abort();
  return 0;
}
