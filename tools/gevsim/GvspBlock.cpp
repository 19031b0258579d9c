#include "GvspBlock.h"

#include <algorithm>

#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;

GvspBlock::GvspBlock(uint64_t blockId, BlockContent content, PacketGeometry geometry)
    : id_(blockId), content_(std::move(content)), geometry_(geometry) {
    data_ = CutDataPackets(content_, geometry_.dataBytesPerPacket);
    dataPackets_ = static_cast<uint32_t>(data_.size()) + (geometry_.extraPacket ? 1 : 0);
    if (geometry_.extraPacket) zeros_.assign(geometry_.dataBytesPerPacket, 0);
}

std::vector<uint8_t> GvspBlock::Packet(uint32_t packetId, uint16_t status, uint16_t flags) const {
    PacketView view;
    if (!View(packetId, status, flags, &view)) return {};
    std::vector<uint8_t> packet(view.Size());
    std::copy_n(view.head.begin(), view.headSize, packet.begin());
    if (view.bodySize > 0) std::copy_n(view.body, view.bodySize, packet.begin() + view.headSize);
    return packet;
}

bool GvspBlock::View(uint32_t packetId, uint16_t status, uint16_t flags, PacketView* view) const {
    if (packetId > TrailerId()) return false;
    const size_t header = HeaderSize(geometry_.extendedIds);
    Format format = kPayload;
    const DataPacket* data = nullptr;
    if (packetId == 0) {
        format = kLeader;
        view->body = content_.leader.data();
        view->bodySize = content_.leader.size();
    } else if (packetId == TrailerId()) {
        format = kTrailer;
        view->body = content_.trailer.data();
        view->bodySize = content_.trailer.size();
    } else if (packetId <= data_.size()) {
        data = &data_[packetId - 1];
        format = static_cast<Format>(data->format);
        view->body = content_.payload.data() + data->offset;
        view->bodySize = data->size;
    } else {
        view->body = zeros_.data();  // the extra packet
        view->bodySize = zeros_.size();
    }
    const size_t own = data ? data->headerSize : 0;
    view->head.fill(0);
    PutHeader(view->head.data(), geometry_.extendedIds, status, flags, id_, format, packetId);
    if (data) std::copy_n(data->header.begin(), own, view->head.begin() + header);
    view->headSize = static_cast<uint8_t>(header + own);
    return true;
}

}  // namespace GevSim
