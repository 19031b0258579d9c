#include "MultiPartPayload.h"

#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;
using Gvcp::Put16;
using Gvcp::Put32;

namespace {

struct Part {
    uint16_t dataType;
    uint32_t pixelFormat;
    uint32_t width, height, paddingX;
    uint64_t size;
};

Part ImagePart(const StreamFormat& format) {
    return {kPartData2DImage, format.pixelFormat, format.width,
            format.height,    format.paddingX,    StreamPayload::ImageBytes(format)};
}

Part ConfidencePart(const StreamFormat& format) {
    const uint32_t width = MultiPartPayload::ConfidenceWidth(format);
    const uint32_t height = MultiPartPayload::ConfidenceHeight(format);
    return {kPartDataConfidenceMap,  MultiPartPayload::kConfidence8, width, height, 0,
            uint64_t{width} * height};
}

// Part lengths are 48 bits wide: a u16 and a u32.
void Put48(uint8_t* at, uint64_t value) {
    Put16(at, static_cast<uint16_t>(value >> 32));
    Put32(at + 2, static_cast<uint32_t>(value));
}

void PutDescriptor(uint8_t* at, const Part& part) {
    Put16(at + kPartDataTypeOffset, part.dataType);
    Put48(at + kPartLengthOffset, part.size);
    Put32(at + kPartPixelFormatOffset, part.pixelFormat);
    // Source, zones, zone directions, data purpose, region and offsets stay 0: one
    // source, one zone read top-down, the whole sensor.
    Put32(at + kPartSizeXOffset, part.width);
    Put32(at + kPartSizeYOffset, part.height);
    Put16(at + kPartPaddingXOffset, static_cast<uint16_t>(part.paddingX));
}

void PutTrailerRecord(uint8_t* at, const Part& part) {
    Put16(at + kPartDataTypeOffset, part.dataType);
    Put48(at + kPartLengthOffset, part.size);
    Put32(at + kTrailerPartSizeYOffset, part.height);
}

}  // namespace

uint8_t MultiPartPayload::Confidence(uint32_t x, uint32_t y, uint64_t blockId) {
    return static_cast<uint8_t>(255 - x - y - blockId);
}

uint64_t MultiPartPayload::Size(const StreamFormat& format) {
    return ImagePart(format).size + ConfidencePart(format).size;
}

BlockContent MultiPartPayload::Build(const StreamFormat& format, uint64_t blockId,
                                     uint64_t timestamp) {
    const Part parts[kParts] = {ImagePart(format), ConfidencePart(format)};
    BlockContent block;
    block.payload.resize(Size(format));
    StreamPayload::FillImage(format, blockId, block.payload.data());
    uint8_t* map = block.payload.data() + parts[0].size;
    for (uint32_t y = 0; y < parts[1].height; ++y)
        for (uint32_t x = 0; x < parts[1].width; ++x)
            map[uint64_t{y} * parts[1].width + x] = Confidence(x, y, blockId);

    block.leader = StreamPayload::Leader(kLeaderPartsOffset + kParts * kPartDescriptorSize,
                                         kPayloadMultiPart, timestamp);
    block.trailer =
        StreamPayload::Trailer(kTrailerPartsOffset + kParts * kTrailerPartSize, kPayloadMultiPart);
    block.dataFormat = kMultiPart;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < kParts; ++i) {
        PutDescriptor(&block.leader[kLeaderPartsOffset + i * kPartDescriptorSize], parts[i]);
        PutTrailerRecord(&block.trailer[kTrailerPartsOffset + i * kTrailerPartSize], parts[i]);
        block.segments.push_back({offset, parts[i].size});
        offset += parts[i].size;
    }
    return block;
}

}  // namespace GevSim
