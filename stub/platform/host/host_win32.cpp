// POSIX implementation of the Win32 subset the stub uses (platform/host_win32.h) and
// of the simulated parts controlled through host_control.h.
//
// Paths arrive in Windows form; a single-byte backslash becomes '/' before
// the path is handed to POSIX (a trail byte 0x5C of a double-byte character
// stays as it is, as it does on Windows).
#include "base/sfx_state.h"
#include "base/utf8_text.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "platform/host/host_control.h"
#include "platform/host/host_extraction_ui.h"
#include "platform/host/host_memory_files.h"
#include "platform/host/sfx_record_locator.h"
#include "platform/platform.h"

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
  int licensePages = 0;
  DWORD dialogStyle = 0;
  std::function<void()> dialogHandler;
  std::map<char, UINT> driveTypes;
  std::map<char, std::string> driveFolders;
  bool dryRun = false;
  bool recording = true;
  std::vector<std::string> foldersMade;
  size_t largestAllocation = 0;
  std::function<bool(const HostProgramStart&, DWORD*)> programHandler;
  std::vector<HostProgramStart> programStarts;
  std::map<intptr_t, DWORD> exitCodes;  // of the programs started, by process handle
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

// A path component read in the ANSI code page, whatever its bytes, as
// UTF-8 for the Linux side.
std::string CodePageToUtf8(const std::string& component) {
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

// A path component in the ANSI code page, as UTF-8 for the Linux side; a
// component that already is valid UTF-8 (a name made on Linux, or a folder
// the user gave) stays as it is.
std::string ComponentToUtf8(const std::string& component) {
  return IsValidUtf8(component) ? component : CodePageToUtf8(component);
}

// Where the entry's own part begins in a path the stub made for an entry
// whose name is in the code page (no UTF-8 flag): after the destination
// folder, compared with '/' and '\\' alike (the stub turns every '/' into
// '\\'). That part is read in the code page whatever its bytes, as Windows
// reads it, so that an unflagged name which happens to be valid UTF-8 comes
// out here as it would there. 0 when the path is no such entry's path (or
// the destination is the current folder: then no part of a path can be
// told to be the entry's, and every component is read as above).
size_t AnsiEntryPartStart(LPCSTR path) {
  if (!Sfx.ExtractionActive || Sfx.EntryUtf8) return 0;
  size_t length = strlen(Sfx.TargetFolder);
  for (size_t i = 0; i < length; i++) {
    char a = path[i], b = Sfx.TargetFolder[i];
    bool bothSeparators = (a == '/' || a == '\\') && (b == '/' || b == '\\');
    if (a != b && !bothSeparators) return 0;
  }
  return length;
}

// A Windows path as a POSIX one: a mapped drive leads into its folder,
// single-byte backslashes become '/', and each component is made UTF-8
// (those of an unflagged entry's own part from the code page, as above).
std::string PosixPath(LPCSTR path) {
  LPCSTR entryPart = path + AnsiEntryPartStart(path);
  std::string out, component;
  if (path[0] && path[1] == ':') {
    auto mapped = Settings().driveFolders.find(static_cast<char>(toupper(path[0])));
    if (mapped != Settings().driveFolders.end()) {
      out = mapped->second;
      path += 2;
    }
  }
  LPCSTR componentStart = path;
  auto converted = [&] {
    bool entryOwn = entryPart > path && componentStart >= entryPart;
    return entryOwn ? CodePageToUtf8(component) : ComponentToUtf8(component);
  };
  for (LPCSTR p = path; *p; p = CharNextA(p)) {
    LPCSTR next = CharNextA(p);
    if (next == p + 1 && (*p == '\\' || *p == '/')) {
      out += converted() + '/';
      component.clear();
      componentStart = next;
    } else {
      component.append(p, next);
    }
  }
  return out + converted();
}

// UTF-8 text as UTF-16. Strict: an ill-formed sequence (RFC 3629, as
// IsStrictUtf8 judges it) sets *ok to false and becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text, bool* ok) {
  std::u16string out;
  *ok = true;
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    if (static_cast<BYTE>(text[i]) >= 0x80)
      while (i + length < text.size() && length < 4 && (static_cast<BYTE>(text[i + length]) & 0xC0) == 0x80)
        length++;
    std::string one = text.substr(i, length);
    i += length;
    if (one[0] == '\0') {
      out += u'\0';
      continue;
    }
    if (!IsStrictUtf8(one.c_str())) {
      *ok = false;
      out += u'\uFFFD';
      continue;
    }
    const BYTE* b = reinterpret_cast<const BYTE*>(one.data());
    uint32_t c = length == 1 ? b[0]
                 : length == 2 ? (b[0] & 0x1F) << 6 | (b[1] & 0x3F)
                 : length == 3 ? (b[0] & 0x0F) << 12 | (b[1] & 0x3F) << 6 | (b[2] & 0x3F)
                               : (b[0] & 0x07) << 18 | (b[1] & 0x3F) << 12 | (b[2] & 0x3F) << 6 | (b[3] & 0x3F);
    if (c > 0xFFFF) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string WideToUtf8(LPCWSTR wide) { return Utf16ToUtf8(wide ? std::u16string(wide) : std::u16string()); }

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
  ExtractionUiReset();
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
int HostLicensePages() { return Settings().licensePages; }
DWORD HostMainDialogStyle() { return Settings().dialogStyle; }
void HostSetMainDialogHandler(std::function<void()> handler) { Settings().dialogHandler = std::move(handler); }

void HostSetDriveType(char drive, UINT type) { Settings().driveTypes[static_cast<char>(toupper(drive))] = type; }
void HostSetDryRun(bool dryRun) { Settings().dryRun = dryRun; }
void HostSetRecording(bool recording) { Settings().recording = recording; }
bool HostRecording() { return Settings().recording; }
const std::vector<std::string>& HostFoldersMade() { return Settings().foldersMade; }
void HostSetProgramHandler(std::function<bool(const HostProgramStart&, DWORD*)> handler) {
  Settings().programHandler = std::move(handler);
}
const std::vector<HostProgramStart>& HostProgramStarts() { return Settings().programStarts; }

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

// The record where the loaded stub finds it (sfx_record_locator.h). Only
// the headers and the stub's own sections are read, never the payload, so
// that a large self-extractor is not read whole.
const SfxConfigRecord* PlatformSfxRecord() {
  if (MemoryFilesActive()) return MemorySfxRecord();
  static SfxConfigRecord record;
  constexpr size_t kHeadSize = 0x10000;     // the headers and section table lie well inside
  constexpr uint64_t kStubPartLimit = 1u << 30;  // no stub is this large
  FILE* file = fopen(ExistingPathIgnoringCase(PosixPath(Settings().modulePath.c_str())).c_str(), "rb");
  if (!file) return nullptr;
  std::vector<uint8_t> image(kHeadSize);
  image.resize(fread(image.data(), 1, image.size(), file));
  uint64_t needed = StubPartSize(image.data(), image.size());
  if (needed > image.size() && needed <= kStubPartLimit) {
    size_t have = image.size();
    image.resize(needed);
    image.resize(have + fread(image.data() + have, 1, needed - have, file));
  }
  fclose(file);
  long at = LocateSfxRecord(image.data(), image.size());
  if (at < 0) return nullptr;
  memcpy(&record, image.data() + at, sizeof record);
  return &record;
}

INT_PTR PlatformRunMainDialog(HINSTANCE, LPCDLGTEMPLATEA dialogTemplate) {
  Settings().dialogRuns++;
  Settings().dialogStyle = dialogTemplate->style;
  if (Settings().dialogHandler) Settings().dialogHandler();
  return 0;
}

bool PlatformLicenseAccepted(HINSTANCE) {
  Settings().licensePages++;
  return true;
}

void PlatformRegisterMeterClass(HINSTANCE) {}

// A set, non-empty value that fits in a path.
static bool ReadTempVariable(LPCSTR name, LPSTR folder) {
  DWORD length = GetEnvironmentVariableA(name, folder, kPathBufferSize);
  return length > 0 && length < kPathBufferSize;
}

bool PlatformUserTempFolder(LPSTR folder) { return ReadTempVariable("TMP", folder) || ReadTempVariable("TEMP", folder); }

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

namespace {

// The attributes Windows would report for a POSIX path: a symbolic link is a
// reparse point, a folder (or a link to one) carries the directory bit.
bool FindAttributes(const std::string& posix, WIN32_FIND_DATAA* data) {
  struct stat link, target;
  if (lstat(posix.c_str(), &link) != 0) return false;
  bool isLink = S_ISLNK(link.st_mode);
  bool isFolder = isLink ? stat(posix.c_str(), &target) == 0 && S_ISDIR(target.st_mode) : S_ISDIR(link.st_mode);
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (isLink) data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (!isLink && !(link.st_mode & S_IWUSR)) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  data->nFileSizeLow = static_cast<DWORD>(link.st_size);
  return true;
}

// A folder's listing in progress ("FOLDER\*"); other searches are answered
// at once and need no state.
struct FolderSearch {
  DIR* listing;
  std::string folder;
};
const HANDLE kSingleSearch = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));

bool NextListed(FolderSearch* search, LPWIN32_FIND_DATAA data) {
  while (dirent* entry = readdir(search->listing)) {
    if (!FindAttributes(search->folder + "/" + entry->d_name, data)) continue;  // gone meanwhile
    snprintf(data->cFileName, sizeof data->cFileName, "%s", entry->d_name);
    return true;
  }
  return false;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (MemoryFilesActive()) return MemoryFindFirst(path, data);
  std::string posix = PosixPath(path);
  if (posix.size() >= 2 && posix.compare(posix.size() - 2, 2, "/*") == 0) {
    DIR* listing = opendir(posix.substr(0, posix.size() - 2).c_str());
    if (!listing) return INVALID_HANDLE_VALUE;
    auto* search = new FolderSearch{listing, posix.substr(0, posix.size() - 2)};
    if (NextListed(search, data)) return reinterpret_cast<HANDLE>(search);
    FindClose(reinterpret_cast<HANDLE>(search));
    return INVALID_HANDLE_VALUE;
  }
  if (!FindAttributes(posix, data)) return INVALID_HANDLE_VALUE;
  size_t slash = posix.find_last_of('/');
  std::string name = slash == std::string::npos ? posix : posix.substr(slash + 1);
  snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
  return kSingleSearch;
}

BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  if (search == kSingleSearch || search == INVALID_HANDLE_VALUE) return FALSE;
  return NextListed(static_cast<FolderSearch*>(search), data);
}

BOOL FindClose(HANDLE search) {
  if (search == kSingleSearch || search == INVALID_HANDLE_VALUE) return TRUE;
  auto* listing = static_cast<FolderSearch*>(search);
  closedir(listing->listing);
  delete listing;
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  std::string posix = PosixPath(path);
  struct stat info;
  if (lstat(posix.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return FALSE;
  return unlink(posix.c_str()) == 0;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  std::string posix = PosixPath(path);
  struct stat info;
  if (lstat(posix.c_str(), &info) != 0) return FALSE;
  if (S_ISLNK(info.st_mode)) {  // a link to a folder: the link goes, as a junction does
    struct stat target;
    return stat(posix.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && unlink(posix.c_str()) == 0;
  }
  return rmdir(posix.c_str()) == 0;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  std::string posix = PosixPath(path);
  struct stat info;
  if (lstat(posix.c_str(), &info) != 0) return FALSE;
  mode_t mode = info.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
  return chmod(posix.c_str(), mode) == 0;
}

BOOL CreateDirectoryA(LPCSTR path, void*) {
  if (Settings().recording) Settings().foldersMade.push_back(path);
  if (MemoryFilesActive()) return MemoryMakeFolder(path);
  if (Settings().dryRun) return TRUE;
  return mkdir(PosixPath(path).c_str(), 0755) == 0;
}

HANDLE CreateFileA(LPCSTR path, DWORD, DWORD, void*, DWORD creation, DWORD, HANDLE) {
  if (creation == CREATE_NEW) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      return INVALID_HANDLE_VALUE;  // the name is taken
    }
  }
  HFILE file = _lcreat(path, 0);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file));  // HFILE_ERROR is INVALID_HANDLE_VALUE
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security, DWORD creation, DWORD attributes,
                   HANDLE templateFile) {
  return CreateFileA(WideToUtf8(path).c_str(), access, share, security, creation, attributes, templateFile);
}

BOOL CreateDirectoryW(LPCWSTR path, void* security) { return CreateDirectoryA(WideToUtf8(path).c_str(), security); }

DWORD GetFileAttributesW(LPCWSTR path) {
  WIN32_FIND_DATAA data;
  return FindAttributes(PosixPath(WideToUtf8(path).c_str()), &data) ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
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

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = getenv(name);
  if (!value) return 0;
  DWORD length = static_cast<DWORD>(strlen(value));
  if (length + 1 > size) return length + 1;  // the size needed, terminator included
  memcpy(buffer, value, length + 1);
  return length;
}

DWORD GetTickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, void*, void*, BOOL, DWORD, void*, LPCSTR currentFolder,
                    STARTUPINFOA*, PROCESS_INFORMATION* started) {
  HostSettings& s = Settings();
  HostProgramStart start{application ? application : "", commandLine, currentFolder ? currentFolder : ""};
  s.programStarts.push_back(start);
  DWORD exitCode = 0;
  if (!s.programHandler || !s.programHandler(start, &exitCode)) return FALSE;
  intptr_t handle = static_cast<intptr_t>(s.programStarts.size()) * 2;  // even: never kSingleSearch
  s.exitCodes[handle] = exitCode;
  started->hProcess = reinterpret_cast<HANDLE>(handle);
  started->hThread = reinterpret_cast<HANDLE>(handle + 1);
  started->dwProcessId = started->dwThreadId = 0;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD) {
  return Settings().exitCodes.count(reinterpret_cast<intptr_t>(object)) ? WAIT_OBJECT_0 : WAIT_FAILED;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  auto found = Settings().exitCodes.find(reinterpret_cast<intptr_t>(process));
  if (found == Settings().exitCodes.end()) return FALSE;
  *exitCode = found->second;
  return TRUE;
}

BOOL CloseHandle(HANDLE) { return TRUE; }

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
int lstrlenW(LPCWSTR text) { return text ? static_cast<int>(std::u16string(text).size()) : 0; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int units) {
  std::string in = length < 0 ? std::string(text) + '\0' : std::string(text, static_cast<size_t>(length));
  if (codePage == CP_ACP) in = ComponentToUtf8(in);
  bool ok;
  std::u16string out = Utf8ToUtf16(in, &ok);
  if (codePage != CP_ACP && !ok && (flags & MB_ERR_INVALID_CHARS)) return 0;
  if (units == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(units)) return 0;
  std::copy(out.begin(), out.end(), wide);
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int units, LPSTR text, int bytes, LPCSTR, BOOL*) {
  if (codePage != CP_UTF8) return 0;
  std::u16string in = units < 0 ? std::u16string(wide) + u'\0' : std::u16string(wide, static_cast<size_t>(units));
  std::string out = Utf16ToUtf8(in);
  if (bytes == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(bytes)) return 0;
  memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

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

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
  return MessageBoxA(owner, WideToUtf8(text).c_str(), WideToUtf8(title).c_str(), type);
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) { return reinterpret_cast<HCURSOR>(const_cast<LPSTR>(name)); }
HCURSOR SetCursor(HCURSOR cursor) { return cursor; }
BOOL EndDialog(HWND, INT_PTR) { return TRUE; }

