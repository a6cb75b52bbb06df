// insert_disk: puts a "disk" in a removable drive under Wine, or takes it out.
//
// usage: insert_disk LETTER: UNIX_FOLDER   the drive shows UNIX_FOLDER, as a
//                                          removable drive, with the label in
//                                          UNIX_FOLDER/.windows-label
//        insert_disk LETTER:               the drive is removed
//
// Wine's mount manager keeps a drive's label and serial once it has read
// them, so changing the folder a drive points at, or its label file, is not
// seen by a running program. Defining the drive again through the mount
// manager (as Wine's own configuration tool does) re-points the drive and
// reads the label afresh: that is a disk swap. The end-to-end tests run this
// from the robot at each disk prompt.
//
// Exit status: 0 done, 1 the mount manager refused, 64 wrong usage.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The mount manager's control code for defining a drive by a Unix folder,
// and its input: this header, then the Unix path (a char string) at
// mount_point_offset. A zero offset with the type DRIVE_NO_ROOT_DIR removes
// the drive.
constexpr DWORD kMountManagerControlType = 'm';
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(kMountManagerControlType, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct UnixDriveDefinition {
  ULONG size;      // of the whole input, path included
  ULONG type;      // DRIVE_REMOVABLE, ... as GetDriveType gives them
  ULONG fs_type;   // 0: let the mount manager decide
  DWORD serial;    // 0: read from the folder's .windows-serial, if any
  ULONGLONG unix_dev;
  WCHAR letter;    // lower case
  USHORT mount_point_offset;
  USHORT device_offset;
  USHORT label_offset;
};
static_assert(sizeof(UnixDriveDefinition) == 32, "the mount manager's layout");

bool DefineDrive(char letter, const char* unixFolder) {
  size_t pathBytes = unixFolder ? strlen(unixFolder) + 1 : 0;
  std::vector<char> input(sizeof(UnixDriveDefinition) + pathBytes, '\0');
  UnixDriveDefinition* definition = reinterpret_cast<UnixDriveDefinition*>(input.data());
  definition->size = static_cast<ULONG>(input.size());
  definition->type = unixFolder ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
  definition->letter = static_cast<WCHAR>(letter | 0x20);
  if (unixFolder) {
    definition->mount_point_offset = sizeof(UnixDriveDefinition);
    memcpy(input.data() + sizeof(UnixDriveDefinition), unixFolder, pathBytes);
  }
  HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (manager == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "insert_disk: cannot open the mount manager (error %lu)\n", GetLastError());
    return false;
  }
  DWORD returned = 0;
  BOOL done = DeviceIoControl(manager, kDefineUnixDrive, input.data(), static_cast<DWORD>(input.size()), nullptr, 0,
                              &returned, nullptr);
  if (!done) fprintf(stderr, "insert_disk: the mount manager refused (error %lu)\n", GetLastError());
  CloseHandle(manager);
  return done != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc != 2 && argc != 3) || strlen(argv[1]) != 2 || argv[1][1] != ':') {
    fprintf(stderr, "usage: insert_disk LETTER: [UNIX_FOLDER]\n");
    return 64;
  }
  return DefineDrive(argv[1][0], argc == 3 ? argv[2] : nullptr) ? 0 : 1;
}
