// A setup's program: the ConfigBlock's run command, started once the
// extraction has succeeded, in the extraction folder, and waited for; its
// exit code becomes the self-extractor's.
#pragma once

#include "platform/platform.h"

// Writes RunCommand into `line` (room for size bytes) with each "{folder}"
// replaced by TargetFolder; false when the result does not fit.
bool FormRunCommandLine(LPSTR line, UINT size);

// The program that `line` names (its first word, or the quoted text at its
// start) copied into `program` (a kPathBufferSize buffer, cut to a path's
// length).
void ProgramNamed(LPCSTR line, LPSTR program);

// When `program` is a relative name and TargetFolder holds a file of that
// name (with ".exe" added when the name has no extension), writes that
// file's path into `path` (a kPathBufferSize buffer) and returns true.
bool FindProgramInFolder(LPCSTR program, LPSTR path);

// Starts the run command with TargetFolder as its current folder, waits for
// it to end and sets ExitCode to its exit code. When it cannot be started:
// FatalError naming the program (exit code 2).
void RunSetupProgram();
