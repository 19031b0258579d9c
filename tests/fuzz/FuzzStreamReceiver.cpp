// Any sequence of datagrams reaching a stream socket: the input is cut into
// datagrams by a length byte each and fed to block assembly. Every block handed
// out must describe no more than its buffer holds, and be complete only when
// nothing is missing.
#include <cstddef>
#include <cstdint>

#include "StreamInternal.h"
#include "StreamReceiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    StreamState state;
    state.settings.payloadSize = 256;
    state.settings.packetDataSize = 64;
    state.settings.packetsPerBlock = 4;
    state.settings.resendEnabled = true;
    state.settings.sizeOnlyCheck = true;
    state.bufferCount = 3;
    if (!BuildRing(state)) return 0;
    StreamReceiver receiver(0, state, [](uint64_t, uint32_t, uint32_t, bool) { return true; });
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++];
        const size_t take = length < size - at ? length : size - at;
        receiver.HandlePacket(data + at, take);
        at += take;
        // Hand delivered slots back, as the consumer does.
        while (GevBufferDescriptor* block = state.delivered.TakeHead()) {
            if (block->filled > state.settings.payloadSize ||
                block->packetCount > block->packetMap.size() ||
                (block->status == kBlockComplete &&
                 (block->overflow || block->missingPackets != 0 || !block->countKnown)))
                __builtin_trap();
            state.queued.Append(block);
        }
    }
    receiver.FlushOnSilence();
    receiver.FlushAtEnd();
    return 0;
}
