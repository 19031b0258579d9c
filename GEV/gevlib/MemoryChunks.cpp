#include "MemoryChunks.h"

#include <algorithm>
#include <cstring>

#include "GvcpPackets.h"

namespace Vantor {

void AlignMemoryRequest(uint32_t& address, uint32_t& size) {
    size = (size + 3u) & ~3u;
    address &= ~3u;
}

GevStatus ReadMemoryInChunks(uint32_t address, uint32_t size, uint8_t* out,
                             const ReadMemChunk& exchange) {
    uint8_t ack[Gvcp::kReadMemAckData + Gvcp::kMemoryChunk];
    while (size > 0) {
        const uint32_t chunk = std::min(size, Gvcp::kMemoryChunk);
        const ExchangeResult result = exchange(address, chunk, ack);
        if (result.status != kGevOk) return result.status;
        // A short acknowledge must not hand out bytes of an earlier datagram.
        if (result.received < Gvcp::kReadMemAckData + chunk) return kGevUnexpectedAck;
        std::memcpy(out, ack + Gvcp::kReadMemAckData, chunk);
        out += chunk;
        address += chunk;
        size -= chunk;
    }
    return kGevOk;
}

}  // namespace Vantor
