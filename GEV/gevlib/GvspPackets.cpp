#include "GvspPackets.h"

#include <algorithm>

#include "GvcpPackets.h"

namespace Vantor {
namespace Gvsp {

bool ParseHeader(const uint8_t* data, size_t size, Header* header) {
    if (size < kHeaderSize) return false;
    header->status = Gvcp::GetU16(data);
    header->extended = (data[4] & kExtendedIdBit) != 0;
    header->format = data[4] & 0x0F;
    if (header->extended) {
        if (size < kExtendedHeaderSize) return false;
        header->flags = Gvcp::GetU16(data + 2);
        header->blockId = Gvcp::GetU64(data + 8);
        header->packetId = Gvcp::GetU32(data + 16);
        header->size = kExtendedHeaderSize;
    } else {
        header->flags = 0;
        header->blockId = Gvcp::GetU16(data + 2);
        header->packetId = Gvcp::GetU32(data + 4) & 0x00FFFFFF;
        header->size = kHeaderSize;
    }
    return true;
}

uint64_t Field(const uint8_t* data, size_t size, const Header& header, size_t offset,
               size_t length) {
    const size_t at = header.size + offset;
    if (at + length > size) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) value = (value << 8) | data[at + i];
    return value;
}

bool ParsePlacement(const uint8_t* data, size_t size, const Header& header, Placement* place) {
    if (header.format == kPayloadMultiPart) {
        if (size < header.size + kMultiPartHeader) return false;
        place->offset = Field(data, size, header, kMultiPartOffset, 6);
        place->part = static_cast<uint8_t>(Field(data, size, header, kMultiPartId, 1));
        place->from = header.size + kMultiPartHeader;
        place->length = size - place->from;
        place->declared = place->length;
        return true;
    }
    if (header.format == kPayloadGenDC) {
        if (size < header.size + kGenDCHeader) return false;
        place->declared = Field(data, size, header, kGenDCDataSize, 4);
        place->offset = Field(data, size, header, kGenDCOffset, 8);
        place->part = 0;
        place->from = header.size + kGenDCHeader;
        // The declared size never reaches past the datagram.
        place->length =
            static_cast<size_t>(std::min<uint64_t>(place->declared, size - place->from));
        return true;
    }
    return false;
}

bool HasGeometry(uint16_t partDataType) {
    return partDataType >= kPartData2DImage && partDataType <= kPartDataConfidenceMap;
}

void ParseParts(const uint8_t* data, size_t size, const Header& header,
                std::vector<PartDescriptor>* parts, uint64_t* total) {
    parts->clear();
    uint64_t start = 0;
    for (size_t at = kLeaderParts; parts->size() < kMaxParts; at += kPartDescriptorSize) {
        if (header.size + at + kPartDescriptorSize > size) break;
        auto field = [&](size_t offset, size_t length) {
            return Field(data, size, header, at + offset, length);
        };
        PartDescriptor part;
        part.length = field(kPartLength, 6);
        // A length that would wrap makes this and the later parts unplaceable, not misplaced.
        if (part.length > ~uint64_t{0} - start) break;
        part.dataType = static_cast<uint16_t>(field(kPartDataType, 2));
        part.pixelFormat = static_cast<uint32_t>(field(kPartPixelFormat, 4));
        part.sourceId = static_cast<uint8_t>(field(kPartSourceId, 1));
        part.additionalZones =
            static_cast<uint8_t>(field(kPartAdditionalZones, 1) & kPartZonesMask);
        part.zoneDirections = static_cast<uint32_t>(field(kPartZoneDirections, 4));
        part.dataPurposeId = static_cast<uint16_t>(field(kPartDataPurposeId, 2));
        part.regionId = static_cast<uint16_t>(field(kPartRegionId, 2));
        if (HasGeometry(part.dataType)) {
            part.sizeX = static_cast<uint32_t>(field(kPartSizeX, 4));
            part.sizeY = static_cast<uint32_t>(field(kPartSizeY, 4));
            part.offsetX = static_cast<uint32_t>(field(kPartOffsetX, 4));
            part.offsetY = static_cast<uint32_t>(field(kPartOffsetY, 4));
            part.paddingX = static_cast<uint16_t>(field(kPartPaddingX, 2));
            part.paddingY = static_cast<uint16_t>(field(kPartPaddingY, 2));
        }
        part.start = start;
        start += part.length;
        parts->push_back(part);
    }
    *total = start;
}

void ParsePartTrailer(const uint8_t* data, size_t size, const Header& header,
                      std::vector<PartDescriptor>* parts) {
    for (size_t i = 0; i < parts->size(); ++i) {
        const size_t at = kTrailerParts + i * kTrailerPartSize;
        if (header.size + at + kTrailerPartSize > size) break;
        PartDescriptor& part = (*parts)[i];
        if (HasGeometry(part.dataType))
            part.trailerSizeY =
                static_cast<uint32_t>(Field(data, size, header, at + kTrailerPartSizeY, 4));
    }
}

uint32_t BytesPerPixel(uint32_t pixelFormat) {
    const uint32_t bits = (pixelFormat >> 16) & 0xFF;
    if (bits >= 9 && bits <= 15) return 2;
    return bits / 8;
}

uint64_t LineBytes(uint32_t pixelFormat, uint32_t sizeX) {
    const uint64_t bits = (pixelFormat >> 16) & 0xFF;
    return (uint64_t{sizeX} * bits + 7) / 8;
}

uint64_t ImageBytes(uint32_t pixelFormat, uint32_t sizeX, uint32_t sizeY, uint32_t paddingX,
                    uint32_t paddingY) {
    if (((pixelFormat >> 16) & 0xFF) == 0) return 0;
    // A line is below 2^38 bytes; the lines of a hostile leader may not be.
    const uint64_t line = LineBytes(pixelFormat, sizeX) + paddingX;
    if (sizeY != 0 && line > (kSizeOverflow - paddingY) / sizeY) return kSizeOverflow;
    return line * sizeY + paddingY;
}

bool IsImage(uint16_t payloadType) {
    return payloadType == kImage || payloadType == kImageWithChunk;
}

bool HasChunks(uint16_t payloadType) {
    return (payloadType & kPayloadChunkBit) != 0 || payloadType == kChunk ||
           payloadType == kExtendedChunk;
}

size_t BuildPacketResend(uint8_t* out, uint16_t requestId, uint64_t blockId, uint32_t first,
                         uint32_t last, bool extended) {
    Gvcp::BuildHeader(out, extended ? Gvcp::kFlagExtendedIds : 0, Gvcp::kPacketResendCmd,
                      extended ? 20 : 12, requestId);
    Gvcp::PutU16(out + 8, 0);  // stream channel index
    Gvcp::PutU16(out + 10, extended ? 0 : static_cast<uint16_t>(blockId));
    Gvcp::PutU32(out + 12, first);
    Gvcp::PutU32(out + 16, last);
    if (!extended) return kResendSize;
    Gvcp::PutU32(out + 20, static_cast<uint32_t>(blockId >> 32));
    Gvcp::PutU32(out + 24, static_cast<uint32_t>(blockId));
    return kResendExtendedSize;
}

}  // namespace Gvsp
}  // namespace Vantor
