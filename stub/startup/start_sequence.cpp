// The start-up sequence, container initialisation and shutdown.
//
// The order of InitContainer matters: the stub CRC is checked before any
// buffer exists and before the message table is unpacked (its failure uses
// the fixed header-corrupt text); the message table is ready before the
// first text from it can be needed; and the ConfigBlock's default folder is
// in TargetFolder before the command line may replace it.
#include "startup/start_sequence.h"

#include "archive/stored_texts.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/archive_volumes.h"
#include "container/config_block.h"
#include "container/dialog_templates.h"
#include "container/fixed_errors.h"
#include "container/integrity.h"
#include "container/message_table.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "output/temp_folder.h"
#include "startup/command_line.h"
#include "startup/setup_program.h"
#include "util/crc32.h"
#include "util/path_text.h"

// Zero-filled at load: kept out of the file as uninitialised data.
__attribute__((section(".bss"))) SfxState Sfx;

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
constexpr BYTE kMinimumMajorVersion = 4;
constexpr UINT kDialogBlockSize = 1024;

static const char kShellLibrary[] = "Shell32.dll";

// Makes the program's own folder the current one, so that a relative
// destination folder (".") is taken relative to the self-extractor.
static void EnterOwnFolder() {
  CHAR name[kModuleNameBufferSize];
  if (!GetModuleFileNameA(nullptr, name, sizeof name)) return;
  name[sizeof name - 1] = '\0';  // the platform need not terminate a cut name
  CHAR* separator = FindLastSeparator(name);
  if (separator) *separator = '\0';
  SetCurrentDirectoryA(name);
}

static void LoadShellEntries() {
  Sfx.ShellModule = LoadLibraryA(kShellLibrary);
  if (!Sfx.ShellModule) return;
  Sfx.ShBrowseForFolder = GetProcAddress(Sfx.ShellModule, "SHBrowseForFolder");
  Sfx.ShGetMalloc = GetProcAddress(Sfx.ShellModule, "SHGetMalloc");
  Sfx.ShGetPathFromIdList = GetProcAddress(Sfx.ShellModule, "SHGetPathFromIDList");
}

static LPSTR AllocateLockedText(UINT size) {
  HGLOBAL handle = GlobalAlloc(GHND, size);
  return handle ? static_cast<LPSTR>(GlobalLock(handle)) : nullptr;
}

static void FreeLockedText(LPSTR text) {
  if (!text) return;
  HGLOBAL handle = GlobalHandle(text);
  GlobalUnlock(handle);
  GlobalFree(handle);
}

// A missing text buffer would be written through at the first message, so
// the program stops quietly instead; the header-corrupt box needs none.
static bool AllocateTextBuffers() {
  Sfx.CustomCaption = AllocateLockedText(kCaptionBufferSize);
  Sfx.InfoText = AllocateLockedText(kInfoBufferSize);
  Sfx.MessageBuffer = AllocateLockedText(kMessageBufferSize);
  return Sfx.CustomCaption && Sfx.InfoText && Sfx.MessageBuffer;
}

static void FindModulePath() {
  DWORD length = GetModuleFileNameA(nullptr, Sfx.ModulePath, kPathBufferSize);
  Sfx.ModulePath[length < kPathBufferSize ? length : kPathBufferSize - 1] = '\0';
  UseLongFileName(Sfx.ModulePath);
}

static void AllocateIoBuffers() {
  Sfx.SlideWindow = static_cast<BYTE*>(LocalAlloc(LPTR, kSlideWindowAlloc));
  Sfx.InputBuffer = static_cast<BYTE*>(LocalAlloc(LPTR, kIoBlockAlloc));
  Sfx.OutputBlock = static_cast<BYTE*>(LocalAlloc(LPTR, kIoBlockAlloc));
  Sfx.ReadAhead = static_cast<BYTE*>(LocalAlloc(LPTR, kIoBlockAlloc));
  if (!Sfx.SlideWindow || !Sfx.InputBuffer || !Sfx.OutputBlock || !Sfx.ReadAhead) HeaderCorrupt();  // no memory
}

void InitContainer() {
  AssembleSignatures();
  BuildCrcTable();
  OpenArchive();
  Sfx.Config = PlatformSfxRecord();
  if (!Sfx.Config) HeaderCorrupt();  // no configuration record in our image
  if (Sfx.Config->StubCrc) VerifyStubCrc();
  Sfx.SpannedSet = (Sfx.Config->SfxFlags & SfxFlag::SpannedArchive) ? 1 : 0;
  Sfx.ExeOnFirstDisk = (Sfx.Config->SfxFlags & SfxFlag::ExeFirstVolume) ? 1 : 0;
  AllocateIoBuffers();
  LoadMessageTable();
  if (Sfx.SpannedSet) RequestDisk(1, true);
  ReadConfigBlock();
  VerifyEndRecord();
}

// Unattended unless the command line says otherwise: the builder's --auto,
// and a temporary setup, which has no folder to ask for, unless its
// publisher asks a start-up question (then the dialog follows it).
static bool UnattendedByDefault(DWORD flags, bool asked) {
  return (flags & SfxFlag::AutoUnzip) || ((flags & SfxFlag::ExtractToTemp) && !asked);
}

// The builder's start-up question, with the question icon; false when the
// user answered No or Cancel.
static bool AskStartupQuestion() {
  if (!Sfx.StartupPrompt) return true;
  DWORD flags = Sfx.Config->SfxFlags;
  UINT buttons = MB_OK;
  if (flags & SfxFlag::PromptAsks) buttons = (flags & SfxFlag::PromptOkCancel) ? MB_OKCANCEL : MB_YESNO;
  LPCSTR title = ((flags & SfxFlag::UseCaption) && Sfx.CustomCaption[0]) ? Sfx.CustomCaption : kSfxTitle;
  int answer = MessageBoxA(nullptr, Sfx.StartupPrompt, title, buttons | MB_ICONQUESTION | MB_TASKMODAL);
  if (answer == IDNO || answer == IDCANCEL) return false;
  FreeLockedText(Sfx.StartupPrompt);
  Sfx.StartupPrompt = nullptr;
  return true;
}

static void RunMainDialog() {
  HGLOBAL handle = GlobalAlloc(GHND, kDialogBlockSize);
  if (!handle) return;
  void* block = GlobalLock(handle);
  if (block) {
    CopyBytes(block, MainDialogTemplate(), kDialogBlockSize);
    // An unattended run shows no window unless a box must appear: the dialog
    // is made hidden, and its procedure keeps it so.
    if (Sfx.Unattended) static_cast<DLGTEMPLATE*>(block)->style &= ~WS_VISIBLE;
    PlatformRunMainDialog(Sfx.InstanceHandle, static_cast<LPCDLGTEMPLATEA>(block));
    GlobalUnlock(handle);
  }
  GlobalFree(handle);
}

void ReleaseIoBuffers() {
  if (Sfx.SlideWindow) LocalFree(Sfx.SlideWindow);
  if (Sfx.InputBuffer) LocalFree(Sfx.InputBuffer);
  if (Sfx.OutputBlock) LocalFree(Sfx.OutputBlock);
  if (Sfx.ReadAhead) LocalFree(Sfx.ReadAhead);
  Sfx.SlideWindow = Sfx.InputBuffer = Sfx.OutputBlock = Sfx.ReadAhead = nullptr;
  Sfx.ReadAheadLength = 0;
  if (Sfx.ArchiveFile) _lclose(Sfx.ArchiveFile);
  if (Sfx.OutputFile) _lclose(Sfx.OutputFile);
  Sfx.ArchiveFile = Sfx.OutputFile = 0;
}

static void Shutdown() {
  ReleaseIoBuffers();
  FreeLockedText(Sfx.CustomCaption);
  FreeLockedText(Sfx.InfoText);
  FreeLockedText(Sfx.MessageBuffer);
  Sfx.CustomCaption = Sfx.InfoText = Sfx.MessageBuffer = nullptr;
  FreeLockedText(Sfx.MessageTable);
  Sfx.MessageTable = nullptr;
  if (Sfx.ShellModule) FreeLibrary(Sfx.ShellModule);
}

// The checks and questions between the container and the dialog; false when
// the program is to end here.
static bool PassStartupChecks(LPSTR commandTail) {
  if (!VerifyEntryPoint()) FatalError(MsgText(MsgZipDamaged));  // image header changed
  if (TailAsksForInfo(commandTail)) {
    MessageBoxA(nullptr, Sfx.InfoText, kSfxTitle, MB_OK);
    return false;
  }
  if (LOBYTE(Sfx.PlatformVersion) < kMinimumMajorVersion) {
    MessageBoxA(nullptr, MsgText(MsgNeedsWin32), kSfxTitle, MB_OK);
    Sfx.ExitCode = kExitFailure;  // the program cannot run here
    return false;
  }
  if (!Sfx.Config->Finalised) FatalError(MsgText(MsgIncompleteSfx));  // builder never completed it
  DWORD flags = Sfx.Config->SfxFlags;
  Sfx.OverwriteWithoutPrompt = (flags & SfxFlag::OverwriteDefault) ? 1 : 0;
  Sfx.EntryEncrypted = (flags & SfxFlag::HasPassword) ? 1 : 0;
  PlatformRegisterMeterClass(Sfx.InstanceHandle);
  bool asked = Sfx.StartupPrompt != nullptr;
  if (!AskStartupQuestion()) {
    Sfx.ExitCode = kExitCancelled;
    return false;
  }
  if (UnattendedByDefault(flags, asked)) Sfx.Unattended = 1;
  ParseCommandLine(commandTail);
  // Whoever starts an unattended run accepts the license for it, as with
  // quiet installs; anyone else reads it first, and Decline writes nothing.
  if (!Sfx.Unattended && !PlatformLicenseAccepted(Sfx.InstanceHandle)) {
    Sfx.ExitCode = kExitCancelled;
    return false;
  }
  return true;
}

UINT StartSelfExtractor(HINSTANCE instance, LPSTR commandTail) {
  InitCommonControls();
  Sfx.BusyCursor = LoadCursorA(nullptr, IDC_WAIT);
  Sfx.NormalCursor = LoadCursorA(nullptr, IDC_ARROW);
  EnterOwnFolder();
  Sfx.InstanceHandle = instance;
  SetErrorMode(kQuietErrorMode);
  Sfx.PlatformVersion = GetVersion();
  LoadShellEntries();
  if (!AllocateTextBuffers()) return kExitFailure;
  FindModulePath();
  Sfx.CurrentDisk = 1;
  if (RecoveryPoint(Sfx.StartupRecovery)) {  // ended by an error or a refusal
    RemoveTempFolder();  // a temporary setup's folder goes whatever ended the program
    return Sfx.ExitCode;
  }
  InitContainer();
  if (PassStartupChecks(commandTail)) {
    RunMainDialog();
    if (Sfx.ProgramDue) RunSetupProgram();
  }
  RemoveTempFolder();
  Shutdown();
  return Sfx.ExitCode;
}
