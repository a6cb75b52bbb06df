// The stub's user-visible texts, addressed by their place in the table.
//
// Every text the stub shows comes from here, except the few fixed texts kept
// beside the configuration record (fixed_texts.h). MsgText is valid once
// LoadMessageTable has run.
#pragma once

#include "platform/platform.h"

enum MessageId : UINT {
  MsgIncompleteSfx,
  MsgInsertDisk,
  MsgInsertLastDisk,
  MsgBadDiskLabel,
  MsgNoPassword,
  MsgWrongPassword,
  MsgKeywordNoAuto,
  MsgSetupTitle,
  MsgKeywordAuto,
  MsgNeedsWin32,
  MsgAbortQuestion,
  MsgUnzipAborted,
  MsgOverwriteQuestion,
  MsgNoFolder,
  MsgFilesUnzipped,
  MsgUnzipPrompt,
  MsgArchiverMissing,
  MsgCannotCreateOutput,
  MsgUnsupportedMethod,
  MsgBadCrc,
  MsgInvalidHeader,
  MsgCannotCreateFolder,
  MsgUnzippingFile,
  MsgWriteError,
  MsgReadError,
  MsgIoError,
  MsgHelpText,
  MsgZipDamaged,
  MsgAboutText,
  MsgInvalidDrive,
  MsgUnzipToFolder,
  MsgTempVariable,
  MsgNameTooLong,
  MsgThisSelfExtractor,
  MsgCount
};

// Makes the texts available; ends through HeaderCorrupt when it cannot.
void LoadMessageTable();

// The n-th text (read-only).
LPCSTR MsgText(UINT n);
