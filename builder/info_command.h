// dravik-sfx info.
#pragma once

int InfoCommand(int argc, char** argv);
