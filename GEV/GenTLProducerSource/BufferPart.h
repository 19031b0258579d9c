// One part of a multi-part buffer as GenTL tells it: where it lies in the
// buffer's memory and what it holds, taken from the protocol library's part
// description at delivery. Plain data, kept in the buffer record under the
// stream's queue lock.
#pragma once

#include <cstdint>
#include <vector>

#include "GenTL.h"
#include "VantorLib.h"

namespace GenTL {

struct CBufferPart {
    uint64_t offset = 0;  // from the buffer's memory start; never past its end
    uint64_t size = 0;    // bytes of the part the buffer holds (0: none of it)
    uint64_t dataType = PART_DATATYPE_UNKNOWN;
    uint64_t dataFormat = 0;
    uint64_t dataFormatNamespace = PIXELFORMAT_NAMESPACE_UNKNOWN;
    uint64_t width = 0, height = 0, offsetX = 0, offsetY = 0, paddingX = 0;
    uint64_t deliveredHeight = 0;
    uint64_t sourceId = 0, regionId = 0, dataPurposeId = 0;
};

// GenTL's part data type of a GigE Vision one: the image and plane types and the
// confidence map share their numbers; device-specific types (0x8000 on) become
// custom IDs.
PARTDATATYPE_ID PartDataTypeOf(uint16_t gevDataType);

// The parts of a delivery into a buffer of `bufferSize` bytes: each clipped to
// what the buffer holds, so that no part reaches past it.
std::vector<CBufferPart> PartsOf(const std::vector<Vantor::GevImagePart>& parts,
                                 uint64_t bufferSize);

}  // namespace GenTL
