// The stub's entry point. The C runtime's start-up code is not linked (it
// would add size and nothing the stub uses), so this is the image's entry:
// it finds the command-line tail, runs the program and ends the process
// with the exit code the program reports.
#include "platform/platform.h"
#include "startup/command_line.h"
#include "startup/start_sequence.h"

extern "C" void WINAPI DravikEntry() {
  LPSTR tail = CommandTail(GetCommandLineA());
  ExitProcess(StartSelfExtractor(GetModuleHandleA(nullptr), tail));
}
