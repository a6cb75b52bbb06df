// Environment variables in the destination folder: "%ProgramFiles%\Foo",
// "%LOCALAPPDATA%\Foo" or "%TEMP%\x", as publishers write them for --folder
// and users for "/auto FOLDER", expanded when the program runs.
#pragma once

#include "platform/platform.h"

// Replaces each %NAME% in folder (a path buffer of kPathBufferSize bytes) by
// the variable's value, and each "%%" by one percent sign; a '%' that no
// second '%' closes stays as it is. An unset (or empty) variable, or a result
// longer than a path, ends the program through FatalError, naming it, before
// anything is written.
void ExpandFolderVariables(LPSTR folder);
