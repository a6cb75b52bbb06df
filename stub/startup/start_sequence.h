// The start-up sequence and shutdown: the program's spine.
#pragma once

#include "platform/platform.h"

// Runs the whole program and returns the process exit code (kExit*).
UINT StartSelfExtractor(HINSTANCE instance, LPSTR commandTail);

// Opens and verifies our own file, loads the texts, reads the ConfigBlock.
// Completes or ends through FatalError.
void InitContainer();

// Frees the three I/O blocks and closes ArchiveFile and OutputFile.
void ReleaseIoBuffers();
