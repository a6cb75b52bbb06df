// The extraction of one entry, which the record walker calls for every file
// entry it is to extract.
#pragma once

// Extracts the current file entry into its output file and checks its
// CRC-32; returns only when both succeeded.
void ExtractEntry();
