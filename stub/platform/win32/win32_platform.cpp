// The stub's own platform operations on Windows (see platform.h).
#include "container/sfx_image.h"
#include "platform/platform.h"
#include "ui/ui_parts.h"

const SfxConfigRecord* PlatformSfxRecord() { return &SfxImage.Config; }

bool PlatformUserTempFolder(LPSTR folder) { return ChooseDefaultFolder(folder); }
