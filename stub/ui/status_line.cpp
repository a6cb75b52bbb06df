// The "Unzipping <name>" status line shown while an entry is extracted.
#include "container/message_table.h"
#include "startup/sfx_state.h"
#include "ui/extraction_ui.h"
#include "util/path_text.h"

void ShowUnzippingStatus() {
  if (Sfx.MeterShown) return;  // the meter shows the name itself
  CHAR text[kPathBufferSize + 16];
  wsprintfA(text, MsgText(MsgUnzippingFile), FileNamePart(Sfx.EntryPath));
  SetDlgItemTextA(Sfx.MainWindow, kStatusLineId, text);
  InvalidateRect(GetDlgItem(Sfx.MainWindow, kStatusLineId), nullptr, FALSE);
}
