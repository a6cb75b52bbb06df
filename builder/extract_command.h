// dravik-sfx extract and test: the stub's own extraction engine, run on the
// host platform.
#pragma once

// Both return the process exit status: 0 success, 1 cancelled by the user,
// 2 failure, 64 wrong usage.
int ExtractCommand(int argc, char** argv);
int TestCommand(int argc, char** argv);
