// SfxState: the stub's one record of process-wide working state.
//
// Each folder owns the fields it writes (noted beside them); the others only
// read them. Buffers are allocated once at start-up with the sizes below, so
// nothing is allocated per entry or per block.
#pragma once

#include "base/zip_records.h"
#include "platform/platform.h"

#include <cstdint>

struct SfxConfigRecord;

// Text and block sizes, in bytes, terminators included where texts are held.
constexpr unsigned kPathBufferSize = MAX_PATH + 1;    // 260 characters and the NUL
constexpr unsigned kModuleNameBufferSize = 512;       // scratch copy used to find the folder
constexpr unsigned kCaptionBufferSize = 65;
constexpr unsigned kInfoBufferSize = 512;
// An entry's path texts: a path of at most MAX_PATH UTF-16 units takes at
// most 3 bytes per unit in UTF-8 (a surrogate pair, two units, takes 4), so
// this holds the longest path the length checks let through for a UTF-8
// name, with a separator and the NUL; an ANSI path needs far less.
constexpr unsigned kUtf8BytesPerUnit = 3;
constexpr unsigned kEntryTextSize = kUtf8BytesPerUnit * MAX_PATH + 2;
// Room for "Unzipping <file name of EntryPath>", in bytes or wide characters.
constexpr unsigned kUnzippingTextSize = kEntryTextSize + 16;
// wsprintfA's own limit: room for a message naming the longest entry path.
constexpr unsigned kMessageBufferSize = 1024;
constexpr unsigned kStartupPromptSize = 514;
constexpr unsigned kRunCommandBufferSize = 512;       // the ConfigBlock's sixth text
constexpr unsigned kSlideWindowAlloc = 32776;         // 32 KiB window in use
// Input is read and output written 64 KiB at a time: every read and write
// is a system call (a server round trip under Wine, a pass through the file
// system's filters on Windows), so few large ones cost far less than many
// small ones. The user's messages are still looked at after each block.
constexpr unsigned kIoBlockAlloc = 65556;             // 65,536 bytes in use
constexpr unsigned kIoChunkSize = 65536;
constexpr unsigned kSignatureFieldSize = 5;           // four signature bytes and a NUL
// The messages are looked at after every block written and after every
// this many bytes of entry data read, so that a stream that reads much and
// writes nothing (a run of empty deflate blocks) still answers an abort.
constexpr DWORD kPumpInputInterval = 0x10000;

// Resume codes of a RecoveryPoint: 0 is the first return of setjmp.
constexpr int kResumeCancelled = 1;  // Cancel at the overwrite question
constexpr int kResumeAbandoned = 2;  // every error, silent abort and confirmed abort

// Process exit codes. The stub reports how a run ended, so that a script
// running it unattended can tell a failure from a success.
constexpr UINT kExitSuccess = 0;     // normal end: dialog closed, "-info"
constexpr UINT kExitCancelled = 1;   // the user declined or cancelled
constexpr UINT kExitFailure = 2;     // an error box ended the program or the run

struct SfxState {
  // startup/
  HINSTANCE InstanceHandle;
  HCURSOR BusyCursor;
  HCURSOR NormalCursor;
  HMODULE ShellModule;
  FARPROC ShBrowseForFolder;
  FARPROC ShGetMalloc;
  FARPROC ShGetPathFromIdList;
  LPSTR CustomCaption;         // 65 bytes, global heap
  LPSTR InfoText;              // 512 bytes, global heap
  LPSTR MessageBuffer;         // 500 bytes, global heap; scratch for formatted messages
  CHAR ModulePath[kPathBufferSize];
  DWORD PlatformVersion;
  jmp_buf StartupRecovery;     // the start-up RecoveryPoint
  jmp_buf RunRecovery;         // the extraction run's RecoveryPoint
  jmp_buf* ActiveRecovery;     // null before the start-up point is installed
  UINT ExitCode;               // kExit*: set by whatever ends the program or a run
  DWORD OverwriteWithoutPrompt;
  DWORD EntryEncrypted;
  DWORD Unattended;

  // container/
  const SfxConfigRecord* Config;  // the record inside our own image
  CHAR LocalHeaderSig[kSignatureFieldSize];
  CHAR CentralHeaderSig[kSignatureFieldSize];
  CHAR EndOfCentralSig[kSignatureFieldSize];
  CHAR DigitalSignatureSig[kSignatureFieldSize];
  CHAR SpanMarkerSig[kSignatureFieldSize];
  CHAR SpanningSig[kSignatureFieldSize];
  CHAR TargetFolder[kPathBufferSize];
  LPSTR StartupPrompt;         // 514 bytes from the global heap, or null
  CHAR RunCommand[kRunCommandBufferSize];  // the program to run after extracting; empty: none
  LPSTR MessageTable;

  // container/ (the file, its volumes, the read-ahead) and archive/ (input)
  HFILE ArchiveFile;           // 0 when none is open
  LONG ArchivePosition;        // where the next read of ArchiveFile starts
  LONG FilePosition;           // where its file pointer stands; -1 when not known
  BYTE* ReadAhead;             // kIoBlockAlloc bytes, local heap: read ahead of ArchivePosition
  LONG ReadAheadAt;            // the file offset of ReadAhead's first byte
  UINT ReadAheadLength;        // bytes in ReadAhead
  WORD CurrentDisk;
  DWORD SpannedSet;
  DWORD ExeOnFirstDisk;
  BYTE* SlideWindow;           // 32,776 bytes, local heap
  BYTE* InputBuffer;           // kIoBlockAlloc bytes, local heap
  BYTE* InputCursor;
  LONG InputAvailable;         // bytes of the chunk left after the one handed out last
  UINT InputOverrun;           // bytes asked for after the input was exhausted
  DWORD InputSincePump;        // entry data read since the messages were last looked at

  // archive/ (the deflate decoder)
  uintptr_t BitBuffer;         // input bits not yet consumed, next bit lowest; a machine
                               // word: 32 bits in the stub, 64 on a 64-bit host
  WORD BitCount;               // valid bits in BitBuffer
  WORD WindowPos;              // where the next output byte goes in SlideWindow
  WORD InputByte;              // where NextInputByte delivers each byte
  DWORD MemoryMode;            // decoding memory to memory: no file, CRC or progress
  BYTE* MemoryLimit;           // end of the memory-mode target

  // archive/ (the record walker)
  LocalFileHeader LocalHeader;      // the current entry's local header
  CHAR EntryName[kEntryTextSize];   // the entry's stored name, then its output path
  CHAR EntryPath[kEntryTextSize];   // the name messages use for the entry
  DWORD EntryUtf8;                  // the entry's name is UTF-8 (flag bit 11), and so is every
                                    // path text and message about it; 0 outside a run
  DWORD EntryHasDescriptor;

  // archive/ (decryption)
  LPSTR Password;              // the password last entered, or null; never empty
  uint32_t Key0, Key1, Key2;

  // output/
  HFILE OutputFile;            // 0 when none is open
  BYTE* OutputBlock;           // kIoBlockAlloc bytes, local heap
  BYTE* BlockCursor;           // where the next output byte goes
  UINT BlockFill;              // bytes in the current output block
  CHAR KnownFolders[kEntryTextSize];   // folders of the last entry, known to exist in this run
  DWORD KnownFoldersUtf8;              // KnownFolders is UTF-8 text (its entry's was)
  CHAR TempFolder[kPathBufferSize];    // the fresh folder of a temporary setup; empty: none made

  // ui/
  HWND MainWindow;             // owner of every message box once the dialog exists
  HWND StatusLine;             // the dialog's controls the run updates, looked up once:
  HWND MeterWindow;            // each lookup is a server round trip under Wine
  CHAR PaintedMeterText[kUnzippingTextSize];  // the text of the meter's last paint
  DWORD ExtractionActive;
  DWORD LastPumpTick;          // GetTickCount when the message pump last looked at the queue
  DWORD MeterShown;
  DWORD BytesWritten;          // bytes flushed in full blocks during the run
  DWORD LastMeterUpdate;       // BytesWritten when the meter last moved
  DWORD FilesUnzipped;
  DWORD ProgramDue;            // a setup's extraction succeeded: its program runs next

  // util/
  uint32_t RunningCrc;
  uint32_t CrcTable[256];
  uint32_t CrcSliceTables[3][256];  // the table advanced by 1, 2 and 3 more bytes
  DWORD CrcFolding;                 // the processor can fold the CRC by carry-less multiplication
};

// The one instance. Zero-initialised, as every field's initial value is 0.
extern SfxState Sfx;
