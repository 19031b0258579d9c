// The parts of a multi-part buffer as `gevtl grab` shows and saves them: the
// layout in one line a part, and one file a part (PNG or PGM for the grey
// formats the tool saves, the raw bytes otherwise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Acquisition.h"

namespace Gevtl {

struct BufferPart {
    uint32_t index = 0;
    const uint8_t* base = nullptr;
    size_t size = 0;
    size_t dataType = 0;
    uint64_t format = 0;
    size_t width = 0, height = 0, deliveredHeight = 0, paddingX = 0;
    uint64_t sourceId = 0, regionId = 0, purposeId = 0;
};

// Every part of `buffer`; empty for a buffer that is not multi-part.
std::vector<BufferPart> ReadParts(const Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer);

void PrintParts(const std::vector<BufferPart>& parts);

// Saves each part as <directory>/frame-<frame id>-part<N>.<png|pgm|raw>; returns
// the files written.
size_t SaveParts(const std::vector<BufferPart>& parts, uint64_t frameId,
                 const std::string& directory, bool pgm);

}  // namespace Gevtl
