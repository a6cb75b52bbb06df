// The errors with a fixed text of their own, raised through FatalError
// (base/recovery.h): the header-corrupt text stored beside the configuration
// record, and the damaged-archive and read-error texts of the message table.
// They live here, above base/, because their texts do.
#pragma once

// FatalError with the fixed header-corrupt text.
[[noreturn]] void HeaderCorrupt();

// FatalError with the damaged-archive text: a record gives a size or an
// offset that the file cannot hold.
[[noreturn]] void ArchiveDamaged();

// "Error reading <ModulePath>. ..." with " <number>" appended; FatalError.
[[noreturn]] void ReadError(int number);
