// dravik-sfx build.
#pragma once

int BuildCommand(int argc, char** argv);
