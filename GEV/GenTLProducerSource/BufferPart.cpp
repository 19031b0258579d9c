#include "BufferPart.h"

#include <algorithm>

namespace GenTL {

namespace {

constexpr uint16_t kGevDeviceSpecificType = 0x8000;

}  // namespace

PARTDATATYPE_ID PartDataTypeOf(uint16_t gevDataType) {
    if (gevDataType >= kGevDeviceSpecificType)
        return PART_DATATYPE_CUSTOM_ID + (gevDataType - kGevDeviceSpecificType);
    if (gevDataType >= PART_DATATYPE_2D_IMAGE && gevDataType <= PART_DATATYPE_JPEG2000)
        return gevDataType;
    return PART_DATATYPE_UNKNOWN;
}

std::vector<CBufferPart> PartsOf(const std::vector<Vantor::GevImagePart>& parts,
                                 uint64_t bufferSize) {
    std::vector<CBufferPart> result;
    result.reserve(parts.size());
    for (const Vantor::GevImagePart& from : parts) {
        CBufferPart part;
        part.offset = std::min(from.offset, bufferSize);
        part.size = std::min(from.heldSize, bufferSize - part.offset);
        part.dataType = static_cast<uint64_t>(PartDataTypeOf(from.dataType));
        part.dataFormat = from.pixelFormat;
        // GigE Vision pixel formats are PFNC's 32-bit values.
        part.dataFormatNamespace = from.pixelFormat != 0 ? PIXELFORMAT_NAMESPACE_PFNC_32BIT
                                                         : PIXELFORMAT_NAMESPACE_UNKNOWN;
        part.width = from.sizeX;
        part.height = from.sizeY;
        part.offsetX = from.offsetX;
        part.offsetY = from.offsetY;
        part.paddingX = from.paddingX;
        // The library counted the lines its destination holds; a smaller buffer holds fewer.
        uint64_t lines = from.heldSizeY;
        if (part.size < from.heldSize && from.heldSize != 0)
            lines = lines * part.size / from.heldSize;
        part.deliveredHeight = lines;
        part.sourceId = from.sourceId;
        part.regionId = from.regionId;
        part.dataPurposeId = from.dataPurposeId;
        result.push_back(part);
    }
    return result;
}

}  // namespace GenTL
