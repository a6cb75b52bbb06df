// The in-memory file system of the host platform (see host_memory_files.h).
//
// Handles of memory files are numbered from kFirstMemoryHandle, far above
// any descriptor POSIX hands out, so that host_win32.cpp can tell them from
// real ones by their value. At most kMemoryHandleCount are open at once:
// the engine holds two (its module and one output file), the integrity
// check a third for a moment.
#include "platform/host/host_memory_files.h"

#include "container/integrity.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "platform/host/host_control.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr HFILE kFirstMemoryHandle = 0x40000000;
constexpr int kMemoryHandleCount = 8;
constexpr LONG kLargestOffset = 0x7FFFFFFF;  // _llseek reports positions as a LONG
constexpr DWORD kModulePathBufferSize = 1024;

struct OpenMemoryFile {
  bool inUse = false;
  bool module = false;   // reads the module image; otherwise an output file
  int64_t position = 0;  // of a module handle
  size_t record = 0;     // of an output file: its index in MemoryFileSystem::files
};

struct MemoryFileSystem {
  bool active = false;
  const BYTE* moduleImage = nullptr;
  size_t moduleSize = 0;
  std::string currentFolder = "C:";  // resolved form, as ResolvePath gives it
  std::vector<HostMemoryFile> files;            // in the order they were made
  std::map<std::string, size_t> byResolvedPath;  // index into files
  OpenMemoryFile handles[kMemoryHandleCount];
};

MemoryFileSystem TheFileSystem;

inline MemoryFileSystem& Fs() { return TheFileSystem; }

bool IsSeparatorAt(LPCSTR p) { return (*p == '\\' || *p == '/') && CharNextA(p) == p + 1; }

bool IsDriveLetter(CHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The components of `path` from `p` on, split at single-byte separators
// (a trail byte 0x5C of a double-byte character separates nothing).
std::vector<std::string> SplitComponents(LPCSTR p) {
  std::vector<std::string> components(1);
  for (; *p; p = CharNextA(p)) {
    if (IsSeparatorAt(p))
      components.emplace_back();
    else
      components.back().append(p, static_cast<size_t>(CharNextA(p) - p));
  }
  return components;
}

// Upper case as Windows file systems compare names: single-byte letters
// only, never the trail byte of a double-byte character.
std::string FoldCase(const std::string& text) {
  std::string out = text;
  for (LPCSTR p = text.c_str(); *p; p = CharNextA(p)) {
    size_t at = static_cast<size_t>(p - text.c_str());
    if (CharNextA(p) == p + 1 && *p >= 'a' && *p <= 'z') out[at] = static_cast<CHAR>(*p - 32);
  }
  return out;
}

// Applies one component to a resolved path held as its root and its
// components: "." and empty components stay where they are, ".." goes up
// (never above the root), and trailing dots and blanks are dropped, as
// Windows drops them; a component of dots and blanks alone that held two
// dots or more is taken as "..", the strictest reading.
void ApplyComponent(const std::string& component, std::vector<std::string>* resolved) {
  size_t kept = component.size();
  while (kept > 0 && (component[kept - 1] == '.' || component[kept - 1] == ' ')) kept--;
  if (kept == 0) {
    size_t dots = 0;
    for (char c : component) dots += c == '.';
    if (dots >= 2 && !resolved->empty()) resolved->pop_back();
    return;
  }
  resolved->push_back(FoldCase(component.substr(0, kept)));
}

std::string JoinResolved(const std::string& root, const std::vector<std::string>& components) {
  std::string out = root;
  for (const std::string& c : components) out += "\\" + c;
  return out;
}

// The root of a path ("C:", "\\SERVER\SHARE") and where the rest begins; a
// path with neither starts at the current folder (its drive for "\rest"),
// which is taken to be a drive's folder: the module's is, in every use here.
std::string SplitRoot(LPCSTR path, LPCSTR* rest_ret, std::vector<std::string>* components) {
  if (IsDriveLetter(path[0]) && path[1] == ':') {
    *rest_ret = path + 2;
    return FoldCase(std::string(path, 2));
  }
  if (IsSeparatorAt(path) && IsSeparatorAt(path + 1)) {
    std::vector<std::string> parts = SplitComponents(path + 2);
    std::string root = "\\\\" + FoldCase(parts[0]) + (parts.size() > 1 ? "\\" + FoldCase(parts[1]) : "");
    LPCSTR p = path + 2;
    for (int separators = 0; *p && separators < 2; p = CharNextA(p))
      if (IsSeparatorAt(p)) separators++;
    *rest_ret = p;
    return root;
  }
  std::string current = Fs().currentFolder;
  std::string root = current.substr(0, 2);
  *rest_ret = path;
  if (!IsSeparatorAt(path))
    for (const std::string& c : SplitComponents(current.c_str() + 2))
      if (!c.empty()) components->push_back(c);
  return root;
}

// The path as Windows resolves it, upper-cased: the key of every lookup.
std::string ResolvePath(LPCSTR path) {
  std::vector<std::string> components;
  LPCSTR rest;
  std::string root = SplitRoot(path, &rest, &components);
  for (const std::string& c : SplitComponents(rest)) ApplyComponent(c, &components);
  return JoinResolved(root, components);
}

std::string ParentOf(const std::string& resolved) {
  size_t last = std::string::npos;
  for (LPCSTR p = resolved.c_str(); *p; p = CharNextA(p))
    if (IsSeparatorAt(p)) last = static_cast<size_t>(p - resolved.c_str());
  return last == std::string::npos ? resolved : resolved.substr(0, last);
}

bool IsRoot(const std::string& resolved) {
  if (resolved.size() == 2 && resolved[1] == ':') {
    CHAR root[4] = {resolved[0], ':', '\\', '\0'};
    return GetDriveTypeA(root) > DRIVE_NO_ROOT_DIR;
  }
  if (resolved.rfind("\\\\", 0) != 0) return false;
  size_t separators = 0;
  for (LPCSTR p = resolved.c_str() + 2; *p; p = CharNextA(p)) separators += IsSeparatorAt(p);
  return separators == 1;
}

const HostMemoryFile* Lookup(const std::string& resolved) {
  auto found = Fs().byResolvedPath.find(resolved);
  return found == Fs().byResolvedPath.end() ? nullptr : &Fs().files[found->second];
}

bool IsFolder(const std::string& resolved) {
  const HostMemoryFile* file = Lookup(resolved);
  return IsRoot(resolved) || (file && file->folder);
}

std::string ModulePathResolved() {
  CHAR module[kModulePathBufferSize];
  DWORD length = GetModuleFileNameA(nullptr, module, sizeof module - 1);
  module[length < sizeof module ? length : sizeof module - 1] = '\0';
  return ResolvePath(module);
}

bool IsModule(const std::string& resolved) { return Fs().moduleImage && resolved == ModulePathResolved(); }

// Characters Windows refuses in a name, whatever the file system: the
// control characters and < > " | ? *. (A colon opens a stream of the
// file named before it, which Windows allows; so does this simulation.)
bool HasRefusedCharacter(LPCSTR path) {
  for (LPCSTR p = path; *p; p = CharNextA(p)) {
    if (CharNextA(p) != p + 1) continue;
    BYTE c = static_cast<BYTE>(*p);
    if (c < 0x20 || strchr("<>\"|?*", c)) return true;
  }
  return false;
}

// A new entry may be made where its folder exists and its name is one
// Windows accepts.
bool CanMake(LPCSTR path, const std::string& resolved) {
  return !HasRefusedCharacter(path) && !IsRoot(resolved) && IsFolder(ParentOf(resolved)) && !IsModule(resolved);
}

size_t Record(LPCSTR path, const std::string& resolved, bool folder) {
  auto found = Fs().byResolvedPath.find(resolved);
  if (found != Fs().byResolvedPath.end()) {
    Fs().files[found->second].size = 0;
    return found->second;
  }
  Fs().files.push_back(HostMemoryFile{path, resolved, folder, 0});
  Fs().byResolvedPath[resolved] = Fs().files.size() - 1;
  return Fs().files.size() - 1;
}

HFILE OpenHandle(bool module, size_t record) {
  for (int i = 0; i < kMemoryHandleCount; i++) {
    OpenMemoryFile& handle = Fs().handles[i];
    if (handle.inUse) continue;
    handle = OpenMemoryFile{true, module, 0, record};
    return kFirstMemoryHandle + i;
  }
  return HFILE_ERROR;  // too many files open
}

OpenMemoryFile* HandleOf(HFILE file) {
  if (!IsMemoryHandle(file)) return nullptr;
  OpenMemoryFile* handle = &Fs().handles[file - kFirstMemoryHandle];
  return handle->inUse ? handle : nullptr;
}

int64_t SizeOf(const OpenMemoryFile& handle) {
  return handle.module ? static_cast<int64_t>(Fs().moduleSize) : static_cast<int64_t>(Fs().files[handle.record].size);
}

}  // namespace

// ---- control ---------------------------------------------------------------

void HostSetMemoryFileSystem(bool on) { Fs().active = on; }

void HostSetModuleImage(const BYTE* image, size_t size) {
  Fs().moduleImage = image;
  Fs().moduleSize = size;
}

const std::vector<HostMemoryFile>& HostMemoryFiles() { return Fs().files; }

std::string HostResolvePath(const std::string& path) { return ResolvePath(path.c_str()); }

// ---- for host_win32.cpp -------------------------------------------------------

void MemoryFilesReset() { Fs() = MemoryFileSystem(); }

bool MemoryFilesActive() { return Fs().active; }

bool IsMemoryHandle(HFILE file) { return file >= kFirstMemoryHandle && file < kFirstMemoryHandle + kMemoryHandleCount; }

// Only the module can be opened for reading: the engine reads nothing else.
HFILE MemoryOpen(LPCSTR path) { return IsModule(ResolvePath(path)) ? OpenHandle(true, 0) : HFILE_ERROR; }

HFILE MemoryCreate(LPCSTR path) {
  std::string resolved = ResolvePath(path);
  const HostMemoryFile* existing = Lookup(resolved);
  if ((existing && existing->folder) || !CanMake(path, resolved)) return HFILE_ERROR;
  return OpenHandle(false, Record(path, resolved, false));
}

UINT MemoryRead(HFILE file, LPVOID buffer, UINT count) {
  OpenMemoryFile* handle = HandleOf(file);
  if (!handle || !handle->module) return static_cast<UINT>(HFILE_ERROR);  // output files are write-only
  int64_t available = SizeOf(*handle) - handle->position;
  UINT got = available <= 0 ? 0 : available < count ? static_cast<UINT>(available) : count;
  if (got) memcpy(buffer, Fs().moduleImage + handle->position, got);
  handle->position += got;
  return got;
}

UINT MemoryWrite(HFILE file, UINT count) {
  OpenMemoryFile* handle = HandleOf(file);
  if (!handle || handle->module) return static_cast<UINT>(HFILE_ERROR);  // the module is open read-only
  Fs().files[handle->record].size += count;
  return count;
}

// As SetFilePointer: a position before the start fails and leaves the
// position where it was; one beyond the end is allowed. (An output file
// grows at its end whatever the position: the engine writes it in order.)
LONG MemorySeek(HFILE file, LONG offset, int origin) {
  OpenMemoryFile* handle = HandleOf(file);
  if (!handle) return HFILE_ERROR;
  int64_t base = origin == FILE_CURRENT ? handle->position : origin == FILE_END ? SizeOf(*handle) : 0;
  int64_t target = base + offset;
  if (target < 0 || target > kLargestOffset) return HFILE_ERROR;
  handle->position = target;
  return static_cast<LONG>(target);
}

HFILE MemoryClose(HFILE file) {
  OpenMemoryFile* handle = HandleOf(file);
  if (!handle) return HFILE_ERROR;
  handle->inUse = false;
  return 0;
}

HANDLE MemoryFindFirst(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (HasRefusedCharacter(path)) return INVALID_HANDLE_VALUE;  // wildcards match nothing here
  std::string resolved = ResolvePath(path);
  const HostMemoryFile* file = Lookup(resolved);
  bool module = IsModule(resolved);
  if (!file && !module && !IsRoot(resolved)) return INVALID_HANDLE_VALUE;
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = (file && !file->folder) || module ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY;
  data->nFileSizeLow = static_cast<DWORD>(module ? Fs().moduleSize : file ? file->size : 0);
  LPCSTR name = path;
  for (LPCSTR p = path; *p; p = CharNextA(p))
    if (IsSeparatorAt(p)) name = p + 1;
  snprintf(data->cFileName, sizeof data->cFileName, "%s", name);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));
}

// As CreateDirectoryA: fails where anything of that name exists already.
BOOL MemoryMakeFolder(LPCSTR path) {
  std::string resolved = ResolvePath(path);
  if (Lookup(resolved) || !CanMake(path, resolved)) return FALSE;
  Record(path, resolved, true);
  return TRUE;
}

// The module's own folder exists although nothing here made it.
BOOL MemorySetCurrentFolder(LPCSTR path) {
  std::string resolved = ResolvePath(path);
  bool moduleFolder = Fs().moduleImage && resolved == ParentOf(ModulePathResolved());
  if (!IsFolder(resolved) && !moduleFolder) return FALSE;
  Fs().currentFolder = resolved;
  return TRUE;
}

const SfxConfigRecord* MemorySfxRecord() {
  static SfxConfigRecord record;
  if (!Fs().moduleImage || Fs().moduleSize > 0xFFFFFFFF) return nullptr;
  LONG at = FindSfxMarker(Fs().moduleImage, static_cast<DWORD>(Fs().moduleSize), SfxImage.Config.SfxMarker);
  if (at < 0 || static_cast<size_t>(at) + sizeof record > Fs().moduleSize) return nullptr;
  memcpy(&record, Fs().moduleImage + at, sizeof record);
  return &record;
}
