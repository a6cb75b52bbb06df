// Controls of the simulated parts of the host platform, for tests and for
// dravik-sfx: what the module file and command line are, which version and
// code page the "system" reports, which volume labels the drives carry, and
// how message boxes are answered. Message boxes and dialogs are recorded in
// order so that a test can check every text, title, icon and button set.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <string>
#include <vector>

struct HostMessageBox {
  bool owned;         // an owner window was given
  std::string title;
  std::string text;
  UINT type;          // MB_* flags as passed
  int answer;         // the button that answered it
};

// Brings every simulated setting back to its default and clears the record.
void HostReset();

void HostSetModulePath(const std::string& path);   // GetModuleFileNameA
void HostSetCommandLine(const std::string& line);  // GetCommandLineA
void HostSetVersion(DWORD version);                // GetVersion (default 6.1)
void HostSetCodePage(UINT codePage);               // 1252 (default) or 932

// A removable drive: paths "X:\..." lead into `folder`, and the drive
// reports `label` and the removable type. Mapping it again is a disk swap.
void HostMapDrive(char drive, const std::string& folder, const std::string& label);

// Volume label of drive letter `drive`; a drive without an entry fails the
// query, as a drive with no disk does.
void HostSetVolumeLabel(char drive, const std::string& label);
void HostRemoveVolume(char drive);

// Answers for the next message boxes, in order; when they run out, a box is
// answered with its first button (OK, Abort or Yes).
void HostQueueAnswers(const std::vector<int>& answers);

// Replaces the scripted answers by a function (dravik-sfx uses this to
// print boxes and answer from its options).
void HostSetMessageBoxHandler(std::function<int(const HostMessageBox&)> handler);

// Everything shown so far.
const std::vector<HostMessageBox>& HostMessageBoxes();

// How often the main dialog was run.
int HostMainDialogRuns();

// How often the license page was asked for (PlatformLicenseAccepted).
int HostLicensePages();

// The window style of the template the main dialog last ran from.
DWORD HostMainDialogStyle();

// Called while the main dialog "runs", to look at the state it would see.
void HostSetMainDialogHandler(std::function<void()> handler);

// Drive type reported for drive letter `drive` (others: DRIVE_NO_ROOT_DIR).
void HostSetDriveType(char drive, UINT type);

// Answers of the extraction's message pump, in order (then false): true
// stands for a user who confirmed the abort.
void HostQueuePumpAnswers(const std::vector<bool>& answers);

// Dry run: output files go nowhere and folders are not made, so that an
// archive can be tested without writing anything.
void HostSetDryRun(bool dryRun);

// Whether boxes, folders, meter moves and status lines are recorded (on
// by default); a long run of dravik-sfx turns it off so that its memory
// does not grow with the number of entries.
void HostSetRecording(bool recording);
bool HostRecording();

// The folders CreateDirectoryA was asked to make, as given, in order.
const std::vector<std::string>& HostFoldersMade();

// The meter positions sent and the status-line texts set, in order.
const std::vector<UINT>& HostMeterPositions();
const std::vector<std::string>& HostStatusLines();

// The largest block GlobalAlloc was asked for since the last reset, so that
// a test can see that a size taken from a file was checked before use.
size_t HostLargestAllocation();
// What CreateProcessA was asked to start: the application (empty when none
// was given), the command line and the current folder, as passed.
struct HostProgramStart {
  std::string application;
  std::string commandLine;
  std::string currentFolder;
};

// Stands in for every program CreateProcessA starts: called at once, it
// sets the program's exit code and returns true, or returns false when the
// program cannot be started. Without a handler nothing can be started.
void HostSetProgramHandler(std::function<bool(const HostProgramStart&, DWORD* exitCode)> handler);

// Every start asked for so far, started or not.
const std::vector<HostProgramStart>& HostProgramStarts();

// In-memory file system: the module file is read from the image given to
// HostSetModuleImage (the caller keeps it alive), and the files and folders
// the engine makes are recorded, with their sizes, instead of written;
// existence checks and the overwrite question see them; nothing touches the
// disk, and the current folder is remembered, not changed. Paths resolve as
// on Windows (no case; ".", ".." and trailing dots and blanks resolved);
// drive roots exist for drives given a type (HostSetDriveType). A run then
// costs no system call, which is what a fuzz target needs.
void HostSetMemoryFileSystem(bool on);
void HostSetModuleImage(const BYTE* image, size_t size);

struct HostMemoryFile {
  std::string path;      // as the engine gave it
  std::string resolved;  // as Windows would resolve it: upper case, '\' separators
  bool folder;
  uint64_t size;         // bytes written
};

// Every file and folder made, in the order they were first made.
const std::vector<HostMemoryFile>& HostMemoryFiles();

// A path as the in-memory file system resolves it (the form of `resolved`).
std::string HostResolvePath(const std::string& path);

// Frees every block GlobalAlloc and LocalAlloc handed out that is still
// held, as the end of the process does for the stub; for callers that run
// the engine many times in one process, where an early end (an error at
// start-up) leaves blocks behind by design.
void HostReleaseBlocks();

// How many of those blocks are held now: the stub's fixed buffers, and
// nothing that grows with the number of entries or blocks decoded.
size_t HostBlocksHeld();

// Labels the MB_* button and icon groups for readable test failures.
std::string HostDescribeBox(const HostMessageBox& box);
