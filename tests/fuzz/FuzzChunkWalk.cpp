// The chunk walk over camera data: the first 4 bytes claim the chunk payload
// size (as a trailer does), the rest is the buffer. Every chunk found lies
// inside the claimed payload, and nothing outside the buffer is read.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ChunkData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t claimed = 0;
    std::memcpy(&claimed, data, 4);
    // An exact-size copy, so that ASan sees any read past the buffer.
    std::vector<uint8_t> buffer(data + 4, data + size);
    const GenTL::ChunkWalk walk =
        GenTL::WalkChunks(buffer.empty() ? nullptr : buffer.data(), buffer.size(), claimed % 2048);
    uint64_t covered = 0;
    for (const GenTL::SINGLE_CHUNK_DATA& chunk : walk.chunks) {
        if (chunk.ChunkOffset < 0 || chunk.ChunkLength == 0 ||
            static_cast<uint64_t>(chunk.ChunkOffset) + chunk.ChunkLength + 8 > buffer.size())
            std::abort();
        covered += chunk.ChunkLength + 8;
    }
    if (walk.Ok() && covered != claimed % 2048) std::abort();
    return 0;
}
