// The errors with a fixed text of their own (see fixed_errors.h).
#include "container/fixed_errors.h"

#include "base/recovery.h"
#include "base/sfx_state.h"
#include "container/message_table.h"
#include "container/sfx_image.h"

// The text a read error appends: a blank and the number in angle brackets.
static const char kReadErrorSuffix[] = " <%d>";
constexpr unsigned kReadErrorSuffixSize = 32;

void HeaderCorrupt() { FatalError(HeaderCorruptText()); }

void ArchiveDamaged() { FatalError(MsgText(MsgZipDamaged)); }

void ReadError(int number) {
  CHAR suffix[kReadErrorSuffixSize];
  wsprintfA(suffix, kReadErrorSuffix, number);
  wsprintfA(Sfx.MessageBuffer, MsgText(MsgReadError), Sfx.ModulePath);
  lstrcatA(Sfx.MessageBuffer, suffix);
  FatalError(Sfx.MessageBuffer);
}
