// POSIX implementation of the Win32 subset the stub uses (host_win32.h) and
// of the simulated parts controlled through host_control.h.
//
// Paths arrive in Windows form; a single-byte backslash becomes '/' before
// the path is handed to POSIX (a trail byte 0x5C of a double-byte character
// stays as it is, as it does on Windows).
#include "platform/host/host_control.h"
#include "platform/host/host_memory_files.h"
#include "platform/platform.h"
#include "container/sfx_config.h"
#include "container/message_table.h"
#include "container/sfx_image.h"
#include "startup/sfx_state.h"
#include "ui/extraction_ui.h"
#include "util/path_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <algorithm>
#include <map>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr DWORD kDefaultVersion = 0x1DB10106;  // 6.1, as Wine reports by default
constexpr int kWsprintfLimit = 1024;           // wsprintfA writes at most 1,024 bytes

struct HostSettings {
  std::string modulePath;
  std::string commandLine;
  DWORD version = kDefaultVersion;
  UINT codePage = 1252;
  std::map<char, std::string> volumeLabels;
  std::vector<int> answers;
  size_t nextAnswer = 0;
  std::function<int(const HostMessageBox&)> handler;
  std::vector<HostMessageBox> boxes;
  int dialogRuns = 0;
  std::function<void()> dialogHandler;
  std::map<char, UINT> driveTypes;
  std::map<char, std::string> driveFolders;
  std::vector<bool> pumpAnswers;
  size_t nextPumpAnswer = 0;
  bool dryRun = false;
  bool recording = true;
  std::vector<UINT> meterPositions;
  std::vector<std::string> foldersMade;
  std::vector<std::string> statusLines;
  size_t largestAllocation = 0;
};

HostSettings TheSettings;

inline HostSettings& Settings() { return TheSettings; }

bool IsLeadByte(BYTE b) {
  return Settings().codePage == 932 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    BYTE c = static_cast<BYTE>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!length || i + length > text.size()) return false;
    for (size_t k = 1; k < length; k++)
      if ((static_cast<BYTE>(text[i + k]) >> 6) != 2) return false;
    i += length;
  }
  return true;
}

// A path component in the ANSI code page, as UTF-8 for the Linux side; a
// component that already is valid UTF-8 (a name made on Linux, or a folder
// the user gave) stays as it is.
std::string ComponentToUtf8(const std::string& component) {
  if (IsValidUtf8(component)) return component;
  const char* codePage = Settings().codePage == 932 ? "CP932" : "CP1252";
  iconv_t converter = iconv_open("UTF-8", codePage);
  if (converter == reinterpret_cast<iconv_t>(-1)) return component;
  std::string in = component, out(component.size() * 4 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t fromLeft = in.size(), toLeft = out.size();
  size_t result = iconv(converter, &from, &fromLeft, &to, &toLeft);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1)) return component;
  out.resize(out.size() - toLeft);
  return out;
}

// A Windows path as a POSIX one: a mapped drive leads into its folder,
// single-byte backslashes become '/', and each component is made UTF-8.
std::string PosixPath(LPCSTR path) {
  std::string out, component;
  if (path[0] && path[1] == ':') {
    auto mapped = Settings().driveFolders.find(static_cast<char>(toupper(path[0])));
    if (mapped != Settings().driveFolders.end()) {
      out = mapped->second;
      path += 2;
    }
  }
  for (LPCSTR p = path; *p; p = CharNextA(p)) {
    LPCSTR next = CharNextA(p);
    if (next == p + 1 && (*p == '\\' || *p == '/')) {
      out += ComponentToUtf8(component) + '/';
      component.clear();
    } else {
      component.append(p, next);
    }
  }
  return out + ComponentToUtf8(component);
}

int FirstButton(UINT type) {
  switch (type & 0xF) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
  }
}

}  // namespace

// ---- control ---------------------------------------------------------------

void HostReset() {
  Settings() = HostSettings();
  MemoryFilesReset();
}
size_t HostLargestAllocation() { return Settings().largestAllocation; }
void HostSetModulePath(const std::string& path) { Settings().modulePath = path; }
void HostSetCommandLine(const std::string& line) { Settings().commandLine = line; }
void HostSetVersion(DWORD version) { Settings().version = version; }
void HostSetCodePage(UINT codePage) { Settings().codePage = codePage; }
void HostSetVolumeLabel(char drive, const std::string& label) {
  Settings().volumeLabels[static_cast<char>(toupper(drive))] = label;
}
void HostMapDrive(char drive, const std::string& folder, const std::string& label) {
  char letter = static_cast<char>(toupper(drive));
  Settings().driveFolders[letter] = folder;
  Settings().volumeLabels[letter] = label;
  Settings().driveTypes[letter] = DRIVE_REMOVABLE;
}
void HostRemoveVolume(char drive) { Settings().volumeLabels.erase(static_cast<char>(toupper(drive))); }
void HostQueueAnswers(const std::vector<int>& answers) {
  Settings().answers = answers;
  Settings().nextAnswer = 0;
}
void HostSetMessageBoxHandler(std::function<int(const HostMessageBox&)> handler) {
  Settings().handler = std::move(handler);
}
const std::vector<HostMessageBox>& HostMessageBoxes() { return Settings().boxes; }
int HostMainDialogRuns() { return Settings().dialogRuns; }
void HostSetMainDialogHandler(std::function<void()> handler) { Settings().dialogHandler = std::move(handler); }

void HostSetDriveType(char drive, UINT type) { Settings().driveTypes[static_cast<char>(toupper(drive))] = type; }
void HostQueuePumpAnswers(const std::vector<bool>& answers) {
  Settings().pumpAnswers = answers;
  Settings().nextPumpAnswer = 0;
}
void HostSetDryRun(bool dryRun) { Settings().dryRun = dryRun; }
void HostSetRecording(bool recording) { Settings().recording = recording; }
const std::vector<std::string>& HostFoldersMade() { return Settings().foldersMade; }
const std::vector<UINT>& HostMeterPositions() { return Settings().meterPositions; }
const std::vector<std::string>& HostStatusLines() { return Settings().statusLines; }

std::string HostDescribeBox(const HostMessageBox& box) {
  static const char* const buttons[] = {"ok", "okcancel", "abortretryignore", "yesnocancel", "yesno",
                                        "retrycancel"};
  static const char* const icons[] = {"none", "error", "question", "warning", "information"};
  UINT buttonSet = box.type & 0xF, icon = (box.type >> 4) & 0xF;
  std::string out = std::string("[") + (buttonSet < 6 ? buttons[buttonSet] : "?") + " icon=" +
                    (icon < 5 ? icons[icon] : "?") + (box.owned ? " owned" : " unowned") +
                    "] " + box.title + ": " + box.text;
  return out;
}

// ---- the stub's own platform operations ---------------------------------------

std::string ExistingPathIgnoringCase(const std::string& path);

// Scans the module file in chunks (the record lies in the stub part, near
// the start) so that a large self-extractor is never read whole.
const SfxConfigRecord* PlatformSfxRecord() {
  if (MemoryFilesActive()) return MemorySfxRecord();
  static SfxConfigRecord record;
  FILE* file = fopen(ExistingPathIgnoringCase(PosixPath(Settings().modulePath.c_str())).c_str(), "rb");
  if (!file) return nullptr;
  const BYTE* marker = SfxImage.Config.SfxMarker;
  std::vector<BYTE> window;
  BYTE chunk[65536];
  size_t got;
  bool found = false;
  while (!found && (got = fread(chunk, 1, sizeof chunk, file)) > 0) {
    window.insert(window.end(), chunk, chunk + got);
    for (size_t p = 0; p + sizeof record <= window.size(); p++) {
      if (memcmp(window.data() + p, marker, kSfxMarkerSize) == 0) {
        memcpy(&record, window.data() + p, sizeof record);
        found = true;
        break;
      }
    }
    // Keep only what a record starting near the end could still need.
    if (!found && window.size() > sizeof record) window.erase(window.begin(), window.end() - sizeof record);
  }
  fclose(file);
  return found ? &record : nullptr;
}

INT_PTR PlatformRunMainDialog(HINSTANCE, LPCDLGTEMPLATEA) {
  Settings().dialogRuns++;
  if (Settings().dialogHandler) Settings().dialogHandler();
  return 0;
}

void PlatformRegisterMeterClass(HINSTANCE) {}

// ---- the extraction's user interface -------------------------------------------

bool PumpMessages() {
  HostSettings& s = Settings();
  return s.nextPumpAnswer < s.pumpAnswers.size() && s.pumpAnswers[s.nextPumpAnswer++];
}

// As on Windows: the table's "Unzipping" text, unless the meter shows it.
void ShowUnzippingStatus() {
  if (Sfx.MeterShown || !Settings().recording) return;
  char text[kPathBufferSize + 16];
  wsprintfA(text, MsgText(MsgUnzippingFile), FileNamePart(Sfx.EntryPath));
  Settings().statusLines.push_back(text);
}

// ---- files -------------------------------------------------------------------

// An existing file's path, its name matched without regard to case as
// Windows file systems match it (the stub asks for "SETUP.EXE" by
// replacing the extension of "setup.exe"); the path unchanged when there is
// no such file.
std::string ExistingPathIgnoringCase(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return path;
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  DIR* listing = opendir(folder.c_str());
  if (!listing) return path;
  std::string found = path;
  while (dirent* entry = readdir(listing)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = folder + "/" + entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

HFILE _lopen(LPCSTR path, int mode) {
  if (MemoryFilesActive()) return MemoryOpen(path);
  int flags = (mode & 3) == OF_WRITE ? O_WRONLY : (mode & 3) == OF_READWRITE ? O_RDWR : O_RDONLY;
  int fd = open(ExistingPathIgnoringCase(PosixPath(path)).c_str(), flags);
  if (fd < 0) return HFILE_ERROR;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {  // Windows cannot open a folder this way
    close(fd);
    return HFILE_ERROR;
  }
  return fd;
}

HFILE _lcreat(LPCSTR path, int) {
  if (MemoryFilesActive()) return MemoryCreate(path);
  std::string target = Settings().dryRun ? "/dev/null" : PosixPath(path);
  int fd = open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
  if (IsMemoryHandle(file)) return MemoryRead(file, buffer, count);
  UINT total = 0;
  while (total < count) {
    ssize_t got = read(file, static_cast<BYTE*>(buffer) + total, count - total);
    if (got < 0) return total ? total : static_cast<UINT>(HFILE_ERROR);
    if (got == 0) break;
    total += static_cast<UINT>(got);
  }
  return total;
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT count) {
  if (IsMemoryHandle(file)) return MemoryWrite(file, count);
  UINT total = 0;
  while (total < count) {
    ssize_t put = write(file, buffer + total, count - total);
    if (put <= 0) return static_cast<UINT>(HFILE_ERROR);
    total += static_cast<UINT>(put);
  }
  return total;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
  if (IsMemoryHandle(file)) return MemorySeek(file, offset, origin);
  int whence = origin == FILE_CURRENT ? SEEK_CUR : origin == FILE_END ? SEEK_END : SEEK_SET;
  off_t at = lseek(file, offset, whence);
  return at < 0 || at > 0x7FFFFFFF ? HFILE_ERROR : static_cast<LONG>(at);
}

HFILE _lclose(HFILE file) {
  if (IsMemoryHandle(file)) return MemoryClose(file);
  return close(file) == 0 ? 0 : HFILE_ERROR;
}

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (MemoryFilesActive()) return MemoryFindFirst(path, data);
  std::string posix = PosixPath(path);
  struct stat info;
  if (stat(posix.c_str(), &info) != 0) return INVALID_HANDLE_VALUE;
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  data->nFileSizeLow = static_cast<DWORD>(info.st_size);
  size_t slash = posix.find_last_of('/');
  std::string name = slash == std::string::npos ? posix : posix.substr(slash + 1);
  snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));
}

BOOL FindClose(HANDLE) { return TRUE; }

BOOL CreateDirectoryA(LPCSTR path, void*) {
  if (Settings().recording) Settings().foldersMade.push_back(path);
  if (MemoryFilesActive()) return MemoryMakeFolder(path);
  if (Settings().dryRun) return TRUE;
  return mkdir(PosixPath(path).c_str(), 0755) == 0;
}

UINT GetDriveTypeA(LPCSTR root) {
  auto found = Settings().driveTypes.find(static_cast<char>(toupper(root[0])));
  return found == Settings().driveTypes.end() ? DRIVE_NO_ROOT_DIR : found->second;
}

// ---- file times ------------------------------------------------------------------

namespace {
constexpr int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1 January 1970 to the given date (proleptic Gregorian).
int64_t DaysSince1970(int year, int month, int day) {
  int64_t y = year - (month <= 2);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yearOfEra = y - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void SecondsToFileTime(int64_t unixSeconds, FILETIME* out) {
  uint64_t units = static_cast<uint64_t>((unixSeconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond);
  out->dwLowDateTime = static_cast<DWORD>(units);
  out->dwHighDateTime = static_cast<DWORD>(units >> 32);
}

int64_t FileTimeToSeconds(const FILETIME* in) {
  uint64_t units = (static_cast<uint64_t>(in->dwHighDateTime) << 32) | in->dwLowDateTime;
  return static_cast<int64_t>(units / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
}
}  // namespace

// DOS date: day in bits 0-4, month 5-8, years since 1980 9-15; DOS time:
// seconds / 2 in bits 0-4, minutes 5-10, hours 11-15. Fails for fields out
// of range and for days the month does not have.
BOOL DosDateTimeToFileTime(WORD date, WORD time, FILETIME* fileTime) {
  int day = date & 0x1F, month = (date >> 5) & 0xF, year = 1980 + (date >> 9);
  int seconds = (time & 0x1F) * 2, minutes = (time >> 5) & 0x3F, hours = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hours > 23 || minutes > 59 ||
      seconds > 59)
    return FALSE;
  SecondsToFileTime(DaysSince1970(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds, fileTime);
  return TRUE;
}

// As on Windows, the current offset from UTC applies, whatever the date.
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  time_t now = time(nullptr);
  struct tm parts;
  localtime_r(&now, &parts);
  SecondsToFileTime(FileTimeToSeconds(local) - parts.tm_gmtoff, utc);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME* accessed, const FILETIME* written) {
  // the output is not a real file
  if (Settings().dryRun || IsMemoryHandle(static_cast<HFILE>(reinterpret_cast<intptr_t>(file)))) return TRUE;
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  if (accessed) times[0] = {static_cast<time_t>(FileTimeToSeconds(accessed)), 0};
  if (written) times[1] = {static_cast<time_t>(FileTimeToSeconds(written)), 0};
  return futimens(static_cast<int>(reinterpret_cast<intptr_t>(file)), times) == 0;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  if (MemoryFilesActive()) return MemorySetCurrentFolder(path);
  return chdir(PosixPath(path).c_str()) == 0;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return 0;
  DWORD length = static_cast<DWORD>(strlen(cwd));
  if (length + 1 > size) return length + 1;
  memcpy(buffer, cwd, length + 1);
  return length;
}

BOOL GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial, LPDWORD,
                           LPDWORD, LPSTR, DWORD) {
  auto found = Settings().volumeLabels.find(static_cast<char>(toupper(root[0])));
  if (found == Settings().volumeLabels.end()) return FALSE;
  if (label && labelSize) snprintf(label, labelSize, "%s", found->second.c_str());
  if (serial) *serial = 0;
  return TRUE;
}

// ---- memory ------------------------------------------------------------------

// The blocks handed out and not yet freed (HostReleaseBlocks); kept apart
// from the settings so that HostReset does not forget them, and never
// destroyed, so that what a run left behind stays held (and is no leak to
// the leak checker) until the process ends, as on Windows.
static std::set<void*>& HeldBlocks = *new std::set<void*>;

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  Settings().largestAllocation = std::max(Settings().largestAllocation, bytes);
  void* block = (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
  if (block) HeldBlocks.insert(block);
  return block;
}
LPVOID GlobalLock(HGLOBAL block) { return block; }
BOOL GlobalUnlock(HGLOBAL) { return FALSE; }
HGLOBAL GlobalFree(HGLOBAL block) {
  HeldBlocks.erase(block);
  free(block);
  return nullptr;
}
size_t HostBlocksHeld() { return HeldBlocks.size(); }
void HostReleaseBlocks() {
  for (void* block : HeldBlocks) free(block);
  HeldBlocks.clear();
}
HGLOBAL GlobalHandle(LPCVOID address) { return const_cast<LPVOID>(address); }
HLOCAL LocalAlloc(UINT flags, size_t bytes) { return GlobalAlloc(flags, bytes); }
HLOCAL LocalFree(HLOCAL block) { return GlobalFree(block); }

// ---- process and modules -------------------------------------------------------

LPSTR GetCommandLineA() { return Settings().commandLine.data(); }

HMODULE GetModuleHandleA(LPCSTR) { return reinterpret_cast<HMODULE>(static_cast<intptr_t>(0x400000)); }

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  const std::string& path = Settings().modulePath;
  if (size == 0) return 0;
  DWORD length = static_cast<DWORD>(path.size());
  if (length >= size) {  // cut, and (as on Windows XP and Wine) not terminated
    memcpy(buffer, path.data(), size);
    return size;
  }
  memcpy(buffer, path.c_str(), length + 1);
  return length;
}

UINT SetErrorMode(UINT) { return 0; }
DWORD GetVersion() { return Settings().version; }
HMODULE LoadLibraryA(LPCSTR) { return nullptr; }
FARPROC GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
BOOL FreeLibrary(HMODULE) { return TRUE; }
void ExitProcess(UINT code) { exit(static_cast<int>(code)); }
void InitCommonControls() {}

// ---- strings -------------------------------------------------------------------

LPSTR CharNextA(LPCSTR p) {
  if (!*p) return const_cast<LPSTR>(p);
  if (IsLeadByte(static_cast<BYTE>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

DWORD CharUpperBuffA(LPSTR text, DWORD length) {
  for (DWORD i = 0; i < length; i++) {
    BYTE c = static_cast<BYTE>(text[i]);
    if (IsLeadByte(c) && i + 1 < length) {
      i++;  // a double-byte character has no case here
      continue;
    }
    bool latin1Lower = Settings().codePage == 1252 && c >= 0xE0 && c <= 0xFE && c != 0xF7;
    if ((c >= 'a' && c <= 'z') || latin1Lower) text[i] = static_cast<CHAR>(c - 0x20);
  }
  return length;
}

// OEM code page 437 to the ANSI code page (1252, or 932 where the host is
// switched to it), byte for byte as far as the ANSI code page has the glyph;
// anything else becomes '?', as Windows' best-fit conversion does.
BOOL OemToCharBuffA(LPCSTR src, LPSTR dst, DWORD length) {
  const char* ansi = Settings().codePage == 932 ? "CP932" : "CP1252";
  iconv_t converter = iconv_open(ansi, "CP437");
  for (DWORD i = 0; i < length; i++) {
    BYTE c = static_cast<BYTE>(src[i]);
    if (c < 0x80 || converter == reinterpret_cast<iconv_t>(-1)) {
      dst[i] = static_cast<CHAR>(c);
      continue;
    }
    char in[1] = {static_cast<char>(c)}, out[4];
    char* from = in;
    char* to = out;
    size_t fromLeft = 1, toLeft = sizeof out;
    bool single = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1) &&
                  toLeft == sizeof out - 1;
    dst[i] = single ? out[0] : '?';
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
  return TRUE;
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) { return strcpy(dst, src); }
LPSTR lstrcatA(LPSTR dst, LPCSTR src) { return strcat(dst, src); }
int lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }
int lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

// wsprintfA's conversions: %[-][0][width][l](d|i|u|x|X|s|c) and %%; "l" changes
// nothing, as long is 32 bits on Windows. Output stops at 1,024 bytes.
int wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
  std::string result;
  for (LPCSTR f = format; *f; f++) {
    if (*f != '%') {
      result += *f;
      continue;
    }
    f++;
    bool left = false, zero = false;
    if (*f == '-') left = true, f++;
    if (*f == '0') zero = true, f++;
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    if (*f == 'l') f++;
    std::string field;
    char digits[16];
    switch (*f) {
      case 'd':
      case 'i': snprintf(digits, sizeof digits, "%d", va_arg(args, int)); field = digits; break;
      case 'u': snprintf(digits, sizeof digits, "%u", va_arg(args, unsigned)); field = digits; break;
      case 'x': snprintf(digits, sizeof digits, "%x", va_arg(args, unsigned)); field = digits; break;
      case 'X': snprintf(digits, sizeof digits, "%X", va_arg(args, unsigned)); field = digits; break;
      case 'c': field = static_cast<char>(va_arg(args, int)); break;
      case 's': {
        const char* s = va_arg(args, const char*);
        field = s ? s : "(null)";
        break;
      }
      case '\0': f--; continue;
      default: field = *f;
    }
    if (static_cast<int>(field.size()) < width) {
      std::string pad(width - field.size(), zero && !left ? '0' : ' ');
      field = left ? field + pad : pad + field;
    }
    result += field;
  }
  if (result.size() > kWsprintfLimit - 1) result.resize(kWsprintfLimit - 1);
  memcpy(out, result.c_str(), result.size() + 1);
  return static_cast<int>(result.size());
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int length = wvsprintfA(out, format, args);
  va_end(args);
  return length;
}

// ---- user interface --------------------------------------------------------------

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT type) {
  HostSettings& s = Settings();
  HostMessageBox box{owner != nullptr, title ? title : "", text ? text : "", type, 0};
  if (s.handler)
    box.answer = s.handler(box);
  else if (s.nextAnswer < s.answers.size())
    box.answer = s.answers[s.nextAnswer++];
  else
    box.answer = FirstButton(type);
  if (s.recording) s.boxes.push_back(box);
  return box.answer;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) { return reinterpret_cast<HCURSOR>(const_cast<LPSTR>(name)); }
HCURSOR SetCursor(HCURSOR cursor) { return cursor; }
BOOL EndDialog(HWND, INT_PTR) { return TRUE; }
HWND GetDlgItem(HWND dialog, int id) { return dialog ? reinterpret_cast<HWND>(static_cast<intptr_t>(id)) : nullptr; }
LRESULT SendDlgItemMessageA(HWND, int id, UINT message, WPARAM wParam, LPARAM) {
  if (id == 201 && message == 0x402 && Settings().recording) Settings().meterPositions.push_back(static_cast<UINT>(wParam & 0xFFFF));
  return 0;
}
BOOL SetDlgItemTextA(HWND, int id, LPCSTR text) {
  if (id == 109 && Settings().recording) Settings().statusLines.push_back(text);
  return TRUE;
}
BOOL InvalidateRect(HWND, const void*, BOOL) { return TRUE; }
BOOL UpdateWindow(HWND) { return TRUE; }
