#include "GenDCContainer.h"

#include <algorithm>

#include "GvspWire.h"

namespace GevSim {

namespace {

constexpr uint8_t kSignature[4] = {'G', 'N', 'D', 'C'};
constexpr uint8_t kVersionMajor = 1, kVersionMinor = 0, kVersionSubMinor = 0;
constexpr uint16_t kContainerHeader = 0x1000;
constexpr uint16_t kComponentHeader = 0x2000;
constexpr uint16_t kPart2D = 0x4200;
constexpr uint64_t kTypeIntensity = 1;

// Container header.
constexpr size_t kVersionOffset = 4;
constexpr size_t kContainerTypeOffset = 8;
constexpr size_t kContainerSizeOffset = 12;
constexpr size_t kIdOffset = 16;
constexpr size_t kDataSizeOffset = 32;
constexpr size_t kDataOffsetOffset = 40;
constexpr size_t kDescriptorSizeOffset = 48;
constexpr size_t kComponentCountOffset = 52;
constexpr size_t kComponentOffsetsOffset = 56;
// Component and part headers start with type u16 @0, flags u16 @2, size u32 @4.
constexpr size_t kItemTypeOffset = 0;
constexpr size_t kItemSizeOffset = 4;
constexpr size_t kComponentTimestampOffset = 24;
constexpr size_t kComponentTypeIdOffset = 32;
constexpr size_t kComponentFormatOffset = 40;
constexpr size_t kComponentPartCountOffset = 46;
constexpr size_t kComponentPartOffsetsOffset = 48;
constexpr size_t kPartFormatOffset = 8;
constexpr size_t kPartFlowIdOffset = 14;
constexpr size_t kPartFlowOffsetOffset = 16;
constexpr size_t kPartDataSizeOffset = 24;
constexpr size_t kPartDataOffsetOffset = 32;
constexpr size_t kPartSizeXOffset = 40;
constexpr size_t kPartSizeYOffset = 44;
constexpr size_t kPartPaddingXOffset = 48;

template <typename T>
void PutLe(uint8_t* at, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint64_t GenDCContainer::Size(const StreamFormat& format) {
    return kDescriptorSize + StreamPayload::ImageBytes(format);
}

std::vector<uint8_t> GenDCContainer::Descriptor(const StreamFormat& format, uint64_t blockId,
                                                uint64_t timestamp) {
    const uint64_t imageBytes = StreamPayload::ImageBytes(format);
    std::vector<uint8_t> d(kDescriptorSize, 0);
    uint8_t* container = d.data();
    std::copy(std::begin(kSignature), std::end(kSignature), container);
    container[kVersionOffset] = kVersionMajor;
    container[kVersionOffset + 1] = kVersionMinor;
    container[kVersionOffset + 2] = kVersionSubMinor;
    PutLe<uint16_t>(container + kContainerTypeOffset, kContainerHeader);
    PutLe<uint32_t>(container + kContainerSizeOffset, kContainerHeaderSize);
    PutLe<uint64_t>(container + kIdOffset, blockId);
    PutLe<uint64_t>(container + kDataSizeOffset, imageBytes);
    PutLe<uint64_t>(container + kDataOffsetOffset, kDescriptorSize);
    PutLe<uint32_t>(container + kDescriptorSizeOffset, kDescriptorSize);
    PutLe<uint32_t>(container + kComponentCountOffset, 1);
    PutLe<uint64_t>(container + kComponentOffsetsOffset, kContainerHeaderSize);

    uint8_t* component = container + kContainerHeaderSize;
    PutLe<uint16_t>(component + kItemTypeOffset, kComponentHeader);
    PutLe<uint32_t>(component + kItemSizeOffset, kComponentHeaderSize);
    PutLe<uint64_t>(component + kComponentTimestampOffset, timestamp);
    PutLe<uint64_t>(component + kComponentTypeIdOffset, kTypeIntensity);
    PutLe<uint32_t>(component + kComponentFormatOffset, format.pixelFormat);
    PutLe<uint16_t>(component + kComponentPartCountOffset, 1);
    PutLe<uint64_t>(component + kComponentPartOffsetsOffset,
                    kContainerHeaderSize + kComponentHeaderSize);

    uint8_t* part = component + kComponentHeaderSize;
    PutLe<uint16_t>(part + kItemTypeOffset, kPart2D);
    PutLe<uint32_t>(part + kItemSizeOffset, kPartHeaderSize);
    PutLe<uint32_t>(part + kPartFormatOffset, format.pixelFormat);
    PutLe<uint16_t>(part + kPartFlowIdOffset, 0);
    PutLe<uint64_t>(part + kPartFlowOffsetOffset, 0);
    PutLe<uint64_t>(part + kPartDataSizeOffset, imageBytes);
    PutLe<uint64_t>(part + kPartDataOffsetOffset, 0);
    PutLe<uint32_t>(part + kPartSizeXOffset, format.width);
    PutLe<uint32_t>(part + kPartSizeYOffset, format.height);
    PutLe<uint16_t>(part + kPartPaddingXOffset, static_cast<uint16_t>(format.paddingX));
    return d;
}

BlockContent GenDCContainer::Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                                   std::vector<uint8_t> buffer) {
    BlockContent block;
    block.payload = std::move(buffer);
    block.payload.resize(Size(format));
    const std::vector<uint8_t> descriptor = Descriptor(format, blockId, timestamp);
    std::copy(descriptor.begin(), descriptor.end(), block.payload.begin());
    StreamPayload::FillImage(format, blockId, block.payload.data() + kDescriptorSize);
    // The descriptor is final when the block starts: no preliminary flag.
    block.leader = StreamPayload::Leader(Gvsp::kGenDCLeaderSize, Gvsp::kPayloadGenDC, timestamp);
    Gvcp::Put64(&block.leader[Gvsp::kLeaderDataSizeOffset], block.payload.size());
    Gvcp::Put32(&block.leader[Gvsp::kLeaderGenDCDescriptorSizeOffset], kDescriptorSize);
    block.trailer = StreamPayload::Trailer(Gvsp::kRawTrailerSize, Gvsp::kPayloadGenDC);
    block.dataFormat = Gvsp::kGenDC;
    block.segments = {{0, kDescriptorSize},
                      {kDescriptorSize, block.payload.size() - kDescriptorSize}};
    return block;
}

}  // namespace GevSim
