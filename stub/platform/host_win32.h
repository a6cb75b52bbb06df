// The Win32 subset the stub uses, re-implemented on POSIX for the native build.
//
// Types keep their Win32 widths (LONG and DWORD are 32 bits even where the
// host's long is 64), constants their Win32 values, and every operation the
// Win32 semantics the stub relies on, failure values included. What cannot be
// real on a POSIX host is simulated and controlled from host/host_control.h:
// message boxes go to a transcript and are answered by a script, volume
// labels and drive types come from a table, the code page can be switched to
// the double-byte 932 so that trail bytes of value 0x5C can be tested.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdarg>

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef char16_t WCHAR;       // a UTF-16 unit, as on Windows
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef int HFILE;
typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HCURSOR__* HCURSOR;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef int (*FARPROC)();
typedef struct DLGTEMPLATE_HOST { DWORD style; } DLGTEMPLATE;
#define WS_VISIBLE 0x10000000L
typedef const DLGTEMPLATE* LPCDLGTEMPLATEA;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define WINAPI
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))

// Files (_lopen and friends).
#define HFILE_ERROR (-1)
#define OF_READ 0x0000
#define OF_WRITE 0x0001
#define OF_READWRITE 0x0002
#define OF_SHARE_DENY_WRITE 0x0020
#define OF_SHARE_DENY_NONE 0x0040
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attributes);
UINT _lread(HFILE file, LPVOID buffer, UINT count);
UINT _lwrite(HFILE file, LPCSTR buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);

// Finding files and folders.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
struct FILETIME { DWORD dwLowDateTime; DWORD dwHighDateTime; };
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD nFileSizeHigh, nFileSizeLow, dwReserved0, dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;
HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE search);
BOOL SetCurrentDirectoryA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, void* security);

// Creating files: CreateFileA takes an ANSI path, CreateFileW one in UTF-16,
// made UTF-8 for POSIX as it is (each component of an ANSI path is
// converted from the code page instead). The handle is the file descriptor,
// as _lcreat's HFILE is; only the creations the stub uses are supported:
// CREATE_ALWAYS, and CREATE_NEW, which fails when a file or folder of the
// name is found as FindFirstFileA finds it. Sharing is not modelled.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD creation, DWORD attributes,
                   HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security, DWORD creation, DWORD attributes,
                   HANDLE templateFile);
BOOL CreateDirectoryW(LPCWSTR path, void* security);
DWORD GetFileAttributesW(LPCWSTR path);

// Searching a folder ("FOLDER\\*" lists it, "." and ".." included) and
// removing what it holds. A symbolic link is reported as a reparse point (with
// the directory bit when it leads to a folder), and RemoveDirectoryA removes
// such a link itself, as Windows removes a junction, never its target.
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL DeleteFileA(LPCSTR path);
BOOL RemoveDirectoryA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);

// Drives.
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
UINT GetDriveTypeA(LPCSTR root);

// File times: 100-nanosecond intervals since 1 January 1601.
BOOL DosDateTimeToFileTime(WORD date, WORD time, FILETIME* fileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
BOOL SetFileTime(HANDLE file, const FILETIME* created, const FILETIME* accessed, const FILETIME* written);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);

// Volumes.
BOOL GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial,
                           LPDWORD maxComponent, LPDWORD fsFlags, LPSTR fsName, DWORD fsNameSize);

// Memory. Handles are the block addresses; locking returns them.
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block);
HGLOBAL GlobalHandle(LPCVOID address);
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL block);

// Process and modules.
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000
LPSTR GetCommandLineA();
HMODULE GetModuleHandleA(LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
UINT SetErrorMode(UINT mode);
DWORD GetVersion();
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
[[noreturn]] void ExitProcess(UINT code);
void InitCommonControls();
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
DWORD GetTickCount();
DWORD GetCurrentProcessId();

// Starting a program and waiting for it: simulated (host/host_control.h), since
// a Windows command line means nothing to a POSIX host.
struct STARTUPINFOA {
  DWORD cb;
  DWORD dwFlags;
  WORD wShowWindow;
};
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0
#define WAIT_FAILED 0xFFFFFFFF
BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, void* processSecurity, void* threadSecurity,
                    BOOL inheritHandles, DWORD flags, void* environment, LPCSTR currentFolder,
                    STARTUPINFOA* startup, PROCESS_INFORMATION* started);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
BOOL CloseHandle(HANDLE object);

// Strings.
LPSTR CharNextA(LPCSTR p);
DWORD CharUpperBuffA(LPSTR text, DWORD length);
BOOL OemToCharBuffA(LPCSTR src, LPSTR dst, DWORD length);
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPSTR lstrcatA(LPSTR dst, LPCSTR src);
int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);

// Code page conversions. CP_UTF8 is strict UTF-8 both ways (with
// MB_ERR_INVALID_CHARS, ill-formed input fails; without, each bad sequence
// becomes U+FFFD). CP_ACP reads ANSI text as PosixPath reads a component:
// as it is when it is valid UTF-8, else in the host's code page.
// WideCharToMultiByte supports CP_UTF8 only. Both return the units written,
// the NUL included for a length of -1, and 0 when the output has no room.
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x8
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int units);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int units, LPSTR text, int bytes,
                        LPCSTR defaultChar, BOOL* usedDefault);
int lstrcmpiA(LPCSTR a, LPCSTR b);
int wsprintfA(LPSTR out, LPCSTR format, ...);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);

// User interface.
#define MB_OK 0x0000
#define MB_OKCANCEL 0x0001
#define MB_ABORTRETRYIGNORE 0x0002
#define MB_YESNOCANCEL 0x0003
#define MB_YESNO 0x0004
#define MB_RETRYCANCEL 0x0005
#define MB_ICONERROR 0x0010
#define MB_ICONQUESTION 0x0020
#define MB_ICONWARNING 0x0030
#define MB_ICONINFORMATION 0x0040
#define MB_TASKMODAL 0x2000
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT type);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR title, UINT type);  // recorded as UTF-8
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);
BOOL EndDialog(HWND dialog, INT_PTR result);

#define LOBYTE(w) (static_cast<BYTE>(static_cast<DWORD_PTR_HOST>(w) & 0xFF))
typedef uintptr_t DWORD_PTR_HOST;
