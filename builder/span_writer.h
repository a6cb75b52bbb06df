// Spanned disk sets: the archive cut into volumes of at most a given size,
// one folder per disk beside the self-extractor (disk1/, disk2/, ...), each
// holding its volume file under the self-extractor's name with ".ZIP" (or
// ".EXE", the first volume being the self-extractor itself). Each disk's
// volume label is printed, as the self-extractor asks for disks by label.
#pragma once

#include "builder/sfx_writer.h"
#include "builder/zip_model.h"

#include <string>
#include <vector>

bool BuildSpannedSet(const std::vector<uint8_t>& stub, const ZipArchive& archive, SfxSettings settings,
                     const std::string& output, uint32_t volumeSize, bool exeVolumes, std::string* error_ret);

struct SpanSource {
  std::string lastPart;  // SET.zip of a set split into SET.z01, SET.z02, ..., SET.zip
};

// Lays the parts of an archive split by zip -s out as the disks of a
// spanned set, every part unchanged.
bool BuildFromSplitSet(const std::vector<uint8_t>& stub, const SpanSource& source, SfxSettings settings,
                       const std::string& output, bool exeVolumes, std::string* error_ret);
