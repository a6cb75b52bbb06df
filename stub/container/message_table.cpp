// The message texts, in table order.
//
// The texts are held here as a plain table of string constants in the order
// of MessageId. MessageTable points at the first one so that callers never
// depend on how the texts are stored.
#include "container/message_table.h"

#include "startup/sfx_state.h"

static const char* const kMessageTexts[MsgCount] = {
    "This is an incomplete self-extractor;\nplease re-create the file and try again.",
    "Please insert disk %d in drive %s.",
    "Please insert last disk of set in drive %s.",
    "The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number %d.",
    "No password specified",
    "Incorrect password specified",
    "NOAUTO",
    "Setup",
    "AUTO",
    "This 32-bit self-extracting Zip file requires Windows 95, 98, NT, or 2000.",
    "Abort unzip operation?",
    "Unzip Aborted",
    "File %s already exists.  Overwrite file?",
    "No folder specified.",
    "%d file(s) unzipped successfully",
    "To unzip all files in %s to the specified folder press the Unzip button.",
    "The Dravik archiver is not installed on this computer.\n\nDravik opens, creates and "
    "changes Zip files; install it to look inside this self-extractor.",
    "Can't create output file: %s",
    "Unsupported compression method",
    "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx).  Possible cause: file transfer error.",
    "Invalid ZIP header.  Possible cause: file transfer error.",
    "Could not create \"%s\" - unzip operation cancelled.",
    "Unzipping %s",
    "Error writing to %s.  Possible cause: disk full.",
    "Error reading %s.  Possible cause: bad disk or file transfer error.",
    "I/O error on file.  Possible cause: file transfer error.",
    "To unzip all files in %s press the \"Unzip\" button. Files will be unzipped to the folder "
    "specified in the \"Unzip To Folder\" field. This folder will be created if it does not "
    "exist.\n\nYou can also unzip this file with a standard zip utility like Dravik.",
    "Zip file is damaged, truncated, or has been changed since it was created.   If you "
    "downloaded this file, try downloading again.",
    "Dravik Self-Extractor\n\nMade by the Dravik team.",
    "Drive %s is not a valid drive, unzip operation cancelled.",
    "Unzip to Folder:",
    "TEMP",
    "Zip file contains filenames longer than are allowed by\nWindows. Dravik Self-Extractor cannot "
    "process this\nZip file.",
    "this self-extractor file",
};

void LoadMessageTable() { Sfx.MessageTable = const_cast<LPSTR>(kMessageTexts[0]); }

LPCSTR MsgText(UINT n) { return kMessageTexts[n]; }
