#include "GvspBlock.h"

#include <algorithm>

#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;

GvspBlock::GvspBlock(uint64_t blockId, BlockContent content, PacketGeometry geometry)
    : id_(blockId), content_(std::move(content)), geometry_(geometry) {
    const uint64_t per = std::max<uint32_t>(geometry_.dataBytesPerPacket, 1);
    dataPackets_ = static_cast<uint32_t>((content_.payload.size() + per - 1) / per);
    if (geometry_.extraPacket) ++dataPackets_;
}

std::vector<uint8_t> GvspBlock::Packet(uint32_t packetId, uint16_t status, uint16_t flags) const {
    if (packetId > TrailerId()) return {};
    const size_t header = HeaderSize(geometry_.extendedIds);
    const uint8_t* body = nullptr;
    size_t size = 0;
    Format format = kPayload;
    if (packetId == 0) {
        format = kLeader;
        body = content_.leader.data();
        size = content_.leader.size();
    } else if (packetId == TrailerId()) {
        format = kTrailer;
        body = content_.trailer.data();
        size = content_.trailer.size();
    } else {
        const uint64_t offset = uint64_t{packetId - 1} * geometry_.dataBytesPerPacket;
        if (offset < content_.payload.size()) {
            body = content_.payload.data() + offset;
            size =
                std::min<uint64_t>(geometry_.dataBytesPerPacket, content_.payload.size() - offset);
        } else {
            size = geometry_.dataBytesPerPacket;  // the extra packet: zeros
        }
    }
    std::vector<uint8_t> packet(header + size, 0);
    PutHeader(packet.data(), geometry_.extendedIds, status, flags, id_, format, packetId);
    if (body) std::copy_n(body, size, packet.begin() + header);
    return packet;
}

}  // namespace GevSim
