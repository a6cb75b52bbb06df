// The ZIP record walker: reads the archive strictly forward, record by
// record, from where the extraction run put ArchiveFile, and hands every
// local entry on to be made, extracted or skipped.
#pragma once

// Walks to the end record (or, in a spanned set, to the first central
// header). Failures leave through FatalError or ReadError.
void WalkArchive();

// Handles one local header whose signature has just been read.
void ProcessLocalEntry();

// Skips one central directory header whose signature has just been read.
void SkipCentralHeader();

// Reads the end record's fixed part and skips its comment.
void ReadEndRecord();
