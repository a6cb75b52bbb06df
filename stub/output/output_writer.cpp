// The output writer (see output_writer.h).
#include "output/output_writer.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "base/utf8_text.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "platform/extraction_ui.h"
#include "util/crc32.h"

// The meter moves at most once per this many bytes flushed.
constexpr DWORD kMeterStep = 0x10000;

void UpdateMeter() {
  if (Sfx.MeterShown) {
    DWORD total = Sfx.Config->TotalSize;
    DWORD position;
    if (total >= 100)
      position = Sfx.BytesWritten / (total / 100);
    else  // a total of 0 cannot give a percentage; show the run as complete
      position = total ? Sfx.BytesWritten * 100 / total : 100;
    MoveMeter(position);
  }
  RepaintMeter();
}

// Creates the output file at the entry's path (UTF-8 or ANSI, as the entry
// says) as `creation` tells: CREATE_ALWAYS truncates what is there, as
// _lcreat does, CREATE_NEW fails on it. The handle is kept as an HFILE,
// which is the same handle under another type (SetOutputFileTime relies on
// this, too), so that one set of _lwrite and _lclose calls serves both kinds
// of entry. 64-bit Windows keeps kernel handles within 32 bits, so the
// 32-bit HFILE loses nothing there.
static HFILE OpenOutputFile(LPCSTR path, DWORD creation) {
  HANDLE file;
  if (Sfx.EntryUtf8) {
    WCHAR wide[kPathBufferSize];
    if (!Utf8ToWide(path, wide, kPathBufferSize)) return HFILE_ERROR;
    file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);  // as _lcreat opens
  }
  return static_cast<HFILE>(reinterpret_cast<INT_PTR>(file));  // INVALID_HANDLE_VALUE is HFILE_ERROR
}

// Creates the entry's file only when nothing of its name exists, and keeps it
// open for CreateOutputFile; 1 when it did. Creating it is then the existence
// check: where the file system matches names regardless of case by reading
// the whole folder (Wine over POSIX folders), the folder is read once per new
// file instead of twice. An encrypted entry's file is not made before its
// password is known to fit, so that a wrong password leaves no empty file.
static int CreateNewOutputFile() {
  if (Sfx.EntryEncrypted) return 0;
  HFILE file = OpenOutputFile(Sfx.EntryName, CREATE_NEW);
  if (file == HFILE_ERROR) return 0;
  Sfx.OutputFile = file;
  return 1;
}

int ConfirmOverwrite() {
  if (Sfx.OverwriteWithoutPrompt || CreateNewOutputFile() || PathExists(Sfx.EntryName)) return 1;
  if (Sfx.MeterShown) UpdateMeter();
  lstrcpyA(Sfx.EntryPath, Sfx.EntryName);
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgOverwriteQuestion), Sfx.EntryPath);
  int answer = ShowMessage(Sfx.MessageBuffer, MB_YESNOCANCEL);
  if (answer == IDCANCEL) CancelRun();  // the user ended the run
  return answer == IDYES ? 1 : 0;
}

void CreateOutputFile() {
  lstrcpyA(Sfx.EntryPath, Sfx.EntryName);
  if (Sfx.OutputFile) return;  // made new when its name was checked
  Sfx.OutputFile = OpenOutputFile(Sfx.EntryPath, CREATE_ALWAYS);
  if (Sfx.OutputFile == HFILE_ERROR) {
    Sfx.OutputFile = 0;
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgCannotCreateOutput), Sfx.EntryPath);
    FatalError(Sfx.MessageBuffer);  // read-only file, a folder of that name, no rights
  }
}

void FlushBlock() {
  if (Sfx.MemoryMode) {  // the output runs on through the memory target
    Sfx.BlockFill = 0;
    return;
  }
  Sfx.BytesWritten += Sfx.BlockFill;
  if (Sfx.BytesWritten >= Sfx.LastMeterUpdate + kMeterStep) {
    Sfx.LastMeterUpdate = Sfx.BytesWritten;
    UpdateMeter();
  }
  UpdateCrc(Sfx.OutputBlock, Sfx.BlockFill);
  CheckWrite(_lwrite(Sfx.OutputFile, reinterpret_cast<LPCSTR>(Sfx.OutputBlock), Sfx.BlockFill));
  Sfx.BlockCursor = Sfx.OutputBlock;
  Sfx.BlockFill = 0;
}

void CheckWrite(UINT written) {
  if (written == static_cast<UINT>(HFILE_ERROR) || written != Sfx.BlockFill) {
    wsprintfA(Sfx.MessageBuffer, MsgText(MsgWriteError), Sfx.EntryPath);
    FatalError(Sfx.MessageBuffer);  // disk full
  }
  if (PumpMessages()) SilentAbort();  // the user confirmed the abort
}

// DOS time: seconds / 2 in bits 0-4, minutes 5-10, hours 11-15; DOS date:
// day 0-4, month 5-8, years since 1980 9-15. Fields out of range are
// clamped; a day the month lacks (30 February) cannot be converted, and the
// file then keeps the times it got when it was created.
int SetOutputFileTime() {
  WORD time = Sfx.LocalHeader.ModTime, date = Sfx.LocalHeader.ModDate;
  WORD halfSeconds = time & 0x1F, minutes = (time >> 5) & 0x3F, hours = time >> 11;
  if (halfSeconds > 29) halfSeconds = 29;
  if (minutes > 59) minutes = 59;
  if (hours > 23) hours = 23;
  WORD day = date & 0x1F, month = (date >> 5) & 0xF, year = date >> 9;
  if (day == 0) day = 1;
  if (month == 0) month = 1;
  if (month > 12) month = 12;
  time = static_cast<WORD>(hours << 11 | minutes << 5 | halfSeconds);
  date = static_cast<WORD>(year << 9 | month << 5 | day);
  FILETIME local, utc;
  if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(Sfx.OutputFile));
    SetFileTime(file, &utc, &utc, &utc);
  }
  return 1;
}
