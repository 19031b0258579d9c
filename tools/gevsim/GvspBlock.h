// One block cut into GVSP packets: leader (packet id 0), data packets 1..N of at most
// `dataBytesPerPacket` bytes after the GVSP header each (cut as GvspDataPackets.h
// tells), an optional extra generic data packet of zeros, and the trailer. Immutable
// once made, until its last owner releases the payload; any thread may read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "GvspDataPackets.h"
#include "StreamPayload.h"

namespace GevSim {

struct PacketGeometry {
    bool extendedIds = false;
    uint32_t dataBytesPerPacket = 0;  // > 0, the packet format's own header included
    bool extraPacket = false;         // SCCFG extra-packet mode: one zero packet more
};

// One datagram as pieces to gather: the GVSP header and the packet format's own header,
// copied here, then the body, pointing into the block (valid while the block lives).
struct PacketView {
    std::array<uint8_t, 36> head{};  // 20-byte GVSP header at most, 16-byte own header
    uint8_t headSize = 0;
    const uint8_t* body = nullptr;
    size_t bodySize = 0;

    size_t Size() const { return headSize + bodySize; }
};

class GvspBlock {
public:
    GvspBlock(uint64_t blockId, BlockContent content, PacketGeometry geometry);

    uint64_t Id() const { return id_; }
    bool ExtendedIds() const { return geometry_.extendedIds; }
    // Data packets, the extra one included.
    uint32_t DataPackets() const { return dataPackets_; }
    uint32_t TrailerId() const { return dataPackets_ + 1; }
    size_t PayloadBytes() const { return content_.payload.size(); }

    // The datagram of packet `packetId` (0..TrailerId()); empty when out of range.
    std::vector<uint8_t> Packet(uint32_t packetId, uint16_t status = 0, uint16_t flags = 0) const;
    // The same datagram without copying the body; false when out of range.
    bool View(uint32_t packetId, uint16_t status, uint16_t flags, PacketView* view) const;
    // Hands the payload's storage over for the next block; this block is done with.
    std::vector<uint8_t> ReleasePayload() { return std::move(content_.payload); }
    // The format of the static image the payload holds, if it holds one.
    const std::optional<StreamFormat>& StaticImage() const { return content_.staticImage; }

private:
    uint64_t id_;
    BlockContent content_;
    PacketGeometry geometry_;
    std::vector<DataPacket> data_;
    uint32_t dataPackets_ = 0;
    std::vector<uint8_t> zeros_;  // body of the extra packet
};

}  // namespace GevSim
