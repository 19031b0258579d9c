#include "MultiPartPayload.h"

#include <algorithm>
#include <vector>

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
    uint16_t purpose;
};

Part RangePart(const StreamFormat& format) {
    return {kPartData3DImage,
            MultiPartPayload::kMono16,
            format.width,
            format.height,
            0,
            uint64_t{format.width} * format.height * 2,
            MultiPartPayload::kPurposeRange};
}

Part ImagePart(const StreamFormat& format) {
    return {kPartData2DImage,
            format.pixelFormat,
            format.width,
            format.height,
            format.paddingX,
            StreamPayload::ImageBytes(format),
            MultiPartPayload::kPurposeIntensity};
}

Part ConfidencePart(const StreamFormat& format) {
    const uint32_t width = MultiPartPayload::ConfidenceWidth(format);
    const uint32_t height = MultiPartPayload::ConfidenceHeight(format);
    return {kPartDataConfidenceMap,   MultiPartPayload::kConfidence8,      width, height, 0,
            uint64_t{width} * height, MultiPartPayload::kPurposeConfidence};
}

std::vector<Part> PartsOf(const StreamFormat& format) {
    std::vector<Part> parts;
    if (MultiPartPayload::Parts(format) == 3) parts.push_back(RangePart(format));
    parts.push_back(ImagePart(format));
    parts.push_back(ConfidencePart(format));
    return parts;
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
    Put16(at + kPartDataPurposeOffset, part.purpose);
    // Source, zones, zone directions, region and offsets stay 0: one source, one
    // zone read top-down, the whole sensor.
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

uint16_t MultiPartPayload::Range(uint32_t x, uint32_t y, uint64_t blockId) {
    return static_cast<uint16_t>(x * 3 + y * 5 + blockId);
}

uint64_t MultiPartPayload::Size(const StreamFormat& format) {
    uint64_t size = 0;
    for (const Part& part : PartsOf(format)) size += part.size;
    return size;
}

BlockContent MultiPartPayload::Build(const StreamFormat& format, uint64_t blockId,
                                     uint64_t timestamp) {
    const std::vector<Part> parts = PartsOf(format);
    const size_t count = parts.size();
    BlockContent block;
    block.payload.resize(Size(format));
    uint8_t* at = block.payload.data();
    for (const Part& part : parts) {
        if (part.purpose == kPurposeRange) {
            for (uint32_t y = 0; y < part.height; ++y)
                for (uint32_t x = 0; x < part.width; ++x) {
                    const uint16_t r = Range(x, y, blockId);
                    uint8_t* pixel = at + (uint64_t{y} * part.width + x) * 2;
                    pixel[0] = static_cast<uint8_t>(r);
                    pixel[1] = static_cast<uint8_t>(r >> 8);
                }
        } else if (part.purpose == kPurposeIntensity) {
            StreamPayload::FillImage(format, blockId, at);
        } else {
            // c(x, y) depends on x + y: row y is a window of one ramp, y bytes in.
            std::vector<uint8_t> ramp(size_t{part.width} + part.height);
            for (size_t j = 0; j < ramp.size(); ++j)
                ramp[j] = Confidence(static_cast<uint32_t>(j), 0, blockId);
            for (uint32_t y = 0; y < part.height; ++y)
                std::copy_n(ramp.data() + y, part.width, at + uint64_t{y} * part.width);
        }
        at += part.size;
    }

    block.leader = StreamPayload::Leader(kLeaderPartsOffset + count * kPartDescriptorSize,
                                         kPayloadMultiPart, timestamp);
    block.trailer =
        StreamPayload::Trailer(kTrailerPartsOffset + count * kTrailerPartSize, kPayloadMultiPart);
    block.dataFormat = kMultiPart;
    uint64_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        PutDescriptor(&block.leader[kLeaderPartsOffset + i * kPartDescriptorSize], parts[i]);
        PutTrailerRecord(&block.trailer[kTrailerPartsOffset + i * kTrailerPartSize], parts[i]);
        block.segments.push_back({offset, parts[i].size});
        offset += parts[i].size;
    }
    return block;
}

}  // namespace GevSim
