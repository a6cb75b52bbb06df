// The fresh folder of a temporary setup: made under the user's temporary
// folder for one run, and removed with everything in it once the setup's
// program has ended.
#pragma once

#include "platform/platform.h"

// Makes a new folder under the user's temporary folder, named after a number
// no existing folder there has, and keeps its path in TempFolder and in
// TargetFolder. FatalError when no such folder can be made.
void MakeFreshTempFolder();

// Removes TempFolder and everything in it, then forgets it; does nothing when
// none was made. Never leaves the folder: a directory that is a reparse point
// (a junction or a symbolic link, perhaps made by the program that ran) is
// removed as a link and never entered, and every path is built from
// TempFolder, never from a current folder. What cannot be removed (a file
// still open, a path too long to name) is left. Raises nothing.
void RemoveTempFolder();
