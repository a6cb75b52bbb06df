// Reading the ConfigBlock: five NUL-terminated texts at ConfigBlockOffset
// (default folder, a credit text the stub ignores, start-up question, custom
// caption, information text).
#pragma once

// Fills TargetFolder, StartupPrompt, CustomCaption (only with UseCaption)
// and InfoText; HeaderCorrupt when the block cannot be positioned to or read.
void ReadConfigBlock();
