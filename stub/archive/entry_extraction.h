// Extraction runs and the extraction of one entry.
#pragma once

// One run over the whole archive: 0 when the walk completed, otherwise the
// code its recovery point was resumed with (1 cancelled at the overwrite
// question, 2 error, refused disk or confirmed abort), already reported.
int RunExtraction();

// Extracts the current file entry into its output file and checks its
// CRC-32; returns only when both succeeded.
void ExtractEntry();
