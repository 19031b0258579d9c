#include "GvspBlock.h"

#include <algorithm>

#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;

GvspBlock::GvspBlock(uint64_t blockId, BlockContent content, PacketGeometry geometry)
    : id_(blockId), content_(std::move(content)), geometry_(geometry) {
    data_ = CutDataPackets(content_, geometry_.dataBytesPerPacket);
    dataPackets_ = static_cast<uint32_t>(data_.size()) + (geometry_.extraPacket ? 1 : 0);
}

std::vector<uint8_t> GvspBlock::Packet(uint32_t packetId, uint16_t status, uint16_t flags) const {
    if (packetId > TrailerId()) return {};
    const size_t header = HeaderSize(geometry_.extendedIds);
    const uint8_t* body = nullptr;
    size_t size = 0;
    Format format = kPayload;
    const DataPacket* data = nullptr;
    if (packetId == 0) {
        format = kLeader;
        body = content_.leader.data();
        size = content_.leader.size();
    } else if (packetId == TrailerId()) {
        format = kTrailer;
        body = content_.trailer.data();
        size = content_.trailer.size();
    } else if (packetId <= data_.size()) {
        data = &data_[packetId - 1];
        format = static_cast<Format>(data->format);
        body = content_.payload.data() + data->offset;
        size = data->size;
    } else {
        size = geometry_.dataBytesPerPacket;  // the extra packet: zeros
    }
    const size_t own = data ? data->headerSize : 0;
    std::vector<uint8_t> packet(header + own + size, 0);
    PutHeader(packet.data(), geometry_.extendedIds, status, flags, id_, format, packetId);
    if (data) std::copy_n(data->header.begin(), own, packet.begin() + header);
    if (body) std::copy_n(body, size, packet.begin() + header + own);
    return packet;
}

}  // namespace GevSim
