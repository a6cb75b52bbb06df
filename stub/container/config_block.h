// Reading the ConfigBlock: five or six NUL-terminated texts at
// ConfigBlockOffset (default folder, a credit text the stub ignores, start-up
// question, custom caption, information text, and a setup's run command).
#pragma once

// Fills TargetFolder, StartupPrompt, CustomCaption (only with UseCaption),
// InfoText and RunCommand (empty when the block has no sixth text);
// HeaderCorrupt when the block cannot be positioned to or read.
void ReadConfigBlock();
