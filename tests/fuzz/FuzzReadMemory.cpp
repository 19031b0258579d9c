// GEVReadMemory's reassembly of a block from READMEM chunks, against a fake
// camera whose acknowledges the input spoils (short ones, failed exchanges).
// The block read equals what the camera holds, or the read fails with the
// failure of the first spoilt chunk and nothing is written past the block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FakeCameraMemory.h"
#include "MemoryChunks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    FuzzInput input(data, size);
    uint32_t address = input.U32();
    uint32_t length = input.U16() % 8192;  // up to 16 chunks
    const uint32_t callerAddress = address;
    const uint32_t callerLength = length;
    AlignMemoryRequest(address, length);
    if (address % 4 != 0 || length % 4 != 0 || address > callerAddress ||
        callerAddress - address > 3 || length < callerLength || length - callerLength > 3)
        __builtin_trap();

    constexpr size_t kGuard = 64;
    constexpr uint8_t kUntouched = 0xA5;
    std::vector<uint8_t> out(length + kGuard, kUntouched);
    uint32_t nextAddress = address;
    uint32_t goodEnd = address;  // the end of the chunks acknowledged whole
    ChunkOutcome outcome;
    bool exchangeAfterFailure = false;
    const GevStatus status = ReadMemoryInChunks(
        address, length, out.data(), [&](uint32_t chunkAddress, uint32_t chunk, uint8_t* ack) {
            // Chunks follow each other, whole registers, none larger than a datagram holds.
            if (chunkAddress != nextAddress || chunk == 0 || chunk > Gvcp::kMemoryChunk ||
                chunk % 4 != 0 || chunkAddress - address + uint64_t{chunk} > length)
                __builtin_trap();
            if (outcome.failed) exchangeAfterFailure = true;
            nextAddress += chunk;
            ExchangeResult result = FakeReadMem(input, chunkAddress, chunk, ack, &outcome);
            if (!outcome.failed) goodEnd = nextAddress;
            return result;
        });
    if (exchangeAfterFailure) __builtin_trap();
    if (outcome.failed != (status != kGevOk) || status != outcome.status) __builtin_trap();
    if (status == kGevOk && goodEnd - address != length) __builtin_trap();
    // What was acknowledged whole is the camera's, at its place; nothing else is written.
    for (uint32_t i = 0; i < goodEnd - address; ++i)
        if (out[i] != CameraByte(address + i)) __builtin_trap();
    for (size_t i = goodEnd - address; i < out.size(); ++i)
        if (out[i] != kUntouched) __builtin_trap();
    return 0;
}
