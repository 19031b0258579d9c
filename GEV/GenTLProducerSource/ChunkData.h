// The chunk walk: GigE Vision chunk data ends every chunk with a tag (chunk
// ID, then data length, both big-endian 32-bit), so a chunk payload is read
// from its end towards its start. The bytes come from the camera: nothing
// outside the buffer is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GenTL.h"

namespace GenTL {

struct ChunkWalk {
    std::vector<SINGLE_CHUNK_DATA> chunks;  // from the last chunk to the first
    std::string error;                      // empty when the layout is sound
    bool Ok() const { return error.empty(); }
};

// Walks `chunkPayloadSize` bytes at `memory`, a buffer of `bufferSize` bytes.
ChunkWalk WalkChunks(const uint8_t* memory, uint64_t bufferSize, uint64_t chunkPayloadSize);

}  // namespace GenTL
