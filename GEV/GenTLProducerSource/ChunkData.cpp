#include "ChunkData.h"

namespace GenTL {
namespace {

constexpr uint64_t kTagSize = 8;  // chunk ID u32, then data length u32

uint32_t BigEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

}  // namespace

ChunkWalk WalkChunks(const uint8_t* memory, uint64_t bufferSize, uint64_t chunkPayloadSize) {
    ChunkWalk walk;
    if (chunkPayloadSize > bufferSize || (chunkPayloadSize != 0 && memory == nullptr)) {
        // The trailer claims more chunk data than the buffer holds.
        walk.error =
            "GetBufferChunkData: invalid chunk data layout discovered (chunk payload size "
            "> buffer size)";
        return walk;
    }
    const uint32_t limit = static_cast<uint32_t>(chunkPayloadSize);
    uint64_t remaining = chunkPayloadSize;
    while (remaining > 0) {
        if (remaining < kTagSize) {
            walk.error =
                "GetBufferChunkData: invalid chunk data layout discovered (Remaining data < chunk "
                "header)";
            return walk;
        }
        const uint8_t* tag = memory + remaining - kTagSize;
        const uint32_t id = BigEndian32(tag);
        const uint32_t length = BigEndian32(tag + 4);
        if (remaining < static_cast<uint64_t>(length) + kTagSize) {
            walk.error =
                "GetBufferChunkData: invalid chunk data layout discovered ( Remaining data < chunk "
                "header + chunk data)";
            return walk;
        }
        if (length > limit || length == 0) {
            walk.error =
                "GetBufferChunkData: invalid chunk data layout discovered (Chunk length > valid "
                "payload size header or  Chunk length <= 0)";
            return walk;
        }
        remaining -= static_cast<uint64_t>(length) + kTagSize;
        walk.chunks.push_back({id, static_cast<ptrdiff_t>(remaining), length});
    }
    return walk;
}

}  // namespace GenTL
