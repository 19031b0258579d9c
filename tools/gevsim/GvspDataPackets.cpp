#include "GvspDataPackets.h"

#include <algorithm>

#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;
using Gvcp::Put16;
using Gvcp::Put32;
using Gvcp::Put64;

namespace {

// Packets of `size` payload bytes at most covering [segment.offset, + segment.size).
template <typename MakeHeader>
void Cut(const PayloadSegment& segment, uint32_t size, std::vector<DataPacket>* packets,
         MakeHeader makeHeader) {
    for (uint64_t done = 0; done < segment.size; done += size) {
        DataPacket packet;
        packet.offset = segment.offset + done;
        packet.size = static_cast<uint32_t>(std::min<uint64_t>(size, segment.size - done));
        const bool first = done == 0, last = done + packet.size == segment.size;
        makeHeader(&packet, done, first, last);
        packets->push_back(packet);
    }
}

uint32_t Room(uint32_t bytesPerPacket, size_t header) {
    return bytesPerPacket > header ? bytesPerPacket - static_cast<uint32_t>(header) : 1;
}

void CutMultiPart(const BlockContent& content, uint32_t bytesPerPacket,
                  std::vector<DataPacket>* packets) {
    const uint32_t room = Room(bytesPerPacket, kMultiPartHeaderSize);
    for (size_t part = 0; part < content.segments.size(); ++part) {
        Cut(content.segments[part], room, packets,
            [&](DataPacket* packet, uint64_t inPart, bool, bool last) {
                packet->format = kMultiPart;
                packet->headerSize = kMultiPartHeaderSize;
                uint8_t* h = packet->header.data();
                h[kMultiPartIdOffset] = static_cast<uint8_t>(part);
                h[kMultiPartZoneInfoOffset] = last ? kZoneInfoEndOfPart : 0;
                // The offset is 48 bits wide: a u16, then a u32.
                Put16(h + kMultiPartDataOffset, static_cast<uint16_t>(inPart >> 32));
                Put32(h + kMultiPartDataOffset + 2, static_cast<uint32_t>(inPart));
            });
    }
}

// Segment 0 is the descriptor, the others the data of flow 0.
void CutGenDC(const BlockContent& content, uint32_t bytesPerPacket,
              std::vector<DataPacket>* packets) {
    const uint32_t room = Room(bytesPerPacket, kGenDCHeaderSize);
    for (size_t i = 0; i < content.segments.size(); ++i) {
        const bool descriptor = i == 0;
        Cut(content.segments[i], room, packets,
            [&](DataPacket* packet, uint64_t, bool first, bool last) {
                packet->format = kGenDC;
                packet->headerSize = kGenDCHeaderSize;
                uint8_t* h = packet->header.data();
                Put32(h + kGenDCDataSizeOffset, packet->size);
                Put64(h + kGenDCDestinationOffset, packet->offset);
                if (descriptor)
                    h[kGenDCDataFlagsOffset] = kGenDCFinalDescriptor |
                                               (first ? kGenDCDescriptorStart : 0) |
                                               (last ? kGenDCDescriptorEnd : 0);
                else
                    h[kGenDCFlowFlagsOffset] =
                        (first ? kGenDCFlowFirst : 0) | (last ? kGenDCFlowLast : 0);
                Put16(h + kGenDCFlowIdOffset, 0);
            });
    }
}

}  // namespace

std::vector<DataPacket> CutDataPackets(const BlockContent& content, uint32_t bytesPerPacket) {
    std::vector<DataPacket> packets;
    switch (content.dataFormat) {
        case kMultiPart:
            CutMultiPart(content, bytesPerPacket, &packets);
            break;
        case kGenDC:
            CutGenDC(content, bytesPerPacket, &packets);
            break;
        default:
            Cut({0, content.payload.size()}, Room(bytesPerPacket, 0), &packets,
                [](DataPacket*, uint64_t, bool, bool) {});
            break;
    }
    return packets;
}

}  // namespace GevSim
