// Any sequence of datagrams reaching a stream socket: the input is cut into
// datagrams by a length byte each and fed to block assembly. Every block handed
// out must describe no more than its buffer holds, and be complete only when
// nothing is missing; its multi-part parts must follow one another as the
// leader gave them, and the hand-out into a destination whose size the input
// picks must place no part past that destination.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DeviceTable.h"
#include "StreamInternal.h"
#include "StreamReceiver.h"

namespace {

using namespace Vantor;

constexpr uint8_t kHandle = 7;

void CheckBlock(const StreamState& state, const GevBufferDescriptor& block) {
    if (block.filled > state.settings.payloadSize || block.packetCount > block.packetMap.size() ||
        (block.status == kBlockComplete &&
         (block.overflow || block.missingPackets != 0 || !block.countKnown)))
        __builtin_trap();
    if (block.parts.size() > Gvsp::kMaxParts) __builtin_trap();
    uint64_t start = 0;
    for (const Gvsp::PartDescriptor& part : block.parts) {
        if (part.start != start) __builtin_trap();
        start += part.length;
    }
}

void CheckHandOut(const GevImageExtent& extent, uint64_t capacity) {
    for (const GevImagePart& part : extent.parts)
        if (part.offset > capacity || part.heldSize > capacity - part.offset) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    DeviceSlot* slot = SlotOf(kHandle);
    slot->stream.Reset();
    slot->record.streamTimeout = 0;
    slot->inUse = true;
    StreamState& state = slot->stream;
    state.settings.payloadSize = 256;
    state.settings.packetDataSize = 64;
    state.settings.packetsPerBlock = 4;
    state.settings.resendEnabled = true;
    state.settings.sizeOnlyCheck = true;
    state.bufferCount = 3;
    if (!BuildRing(state)) return 0;
    // The first byte picks the destination's size, up to the payload size and beyond.
    std::vector<uint8_t> destination(size_t{data[0]} * 2 + 1);
    StreamReceiver receiver(0, state, [](uint64_t, uint32_t, uint32_t, bool) { return true; });
    size_t at = 1;
    while (at < size) {
        const size_t length = data[at++];
        const size_t take = length < size - at ? length : size - at;
        receiver.HandlePacket(data + at, take);
        at += take;
        // Hand delivered blocks out, as the consumer does; each slot goes back.
        while (state.delivered.Count() != 0) {
            GevBufferDescriptor* block = state.delivered.TakeHead();
            CheckBlock(state, *block);
            state.delivered.PutBackAtHead(block);
            GevImageInfo info{};
            GevImageExtent extent{};
            GEVGetImageBufferEx(kHandle, &info, &extent, destination.data(), destination.size());
            CheckHandOut(extent, destination.size());
        }
    }
    receiver.FlushOnSilence();
    receiver.FlushAtEnd();
    FreeRing(state);
    state.Reset();
    slot->inUse = false;
    return 0;
}
