// Any datagram that arrives on a control socket while a register or memory
// command waits for its acknowledge.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "GvcpPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    if (size == 0) return 0;
    // The first byte picks how many registers the command asked for.
    const size_t count = data[0] % 8 + 1;
    ++data;
    --size;
    Gvcp::AckHeader header{};
    if (!Gvcp::ParseAckHeader(data, size, &header)) return 0;
    uint32_t values[8];
    size_t copied = Gvcp::ParseReadRegValues(data, size, values, count);
    if (copied > count) __builtin_trap();
    (void)Gvcp::PendingAckTime(data, size);
    // A READMEM acknowledge is only copied when it holds the whole chunk.
    uint8_t chunk[Gvcp::kMemoryChunk];
    if (header.code == Gvcp::kReadMemAck && size >= Gvcp::kReadMemAckData) {
        size_t bytes = std::min(size - Gvcp::kReadMemAckData, sizeof chunk);
        std::memcpy(chunk, data + Gvcp::kReadMemAckData, bytes);
    }
    return 0;
}
