// Extraction runs and the ZIP record walker: a run puts ArchiveFile at the
// first record and walks the archive strictly forward, record by record,
// handing every local entry on to be made, extracted or skipped.
#pragma once

// One run over the whole archive: 0 when the walk completed, otherwise the
// code its recovery point was resumed with (1 cancelled at the overwrite
// question, 2 error, refused disk or confirmed abort), already reported.
int RunExtraction();

// Walks to the end record (or, in a spanned set, to the first central
// header). Failures leave through FatalError or ReadError.
void WalkArchive();

// Handles one local header whose signature has just been read.
void ProcessLocalEntry();

// Skips one central directory header whose signature has just been read.
void SkipCentralHeader();

// Reads the end record's fixed part and skips its comment.
void ReadEndRecord();
