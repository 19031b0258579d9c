// Blocks whose size changes from block to block, each smaller than PayloadSize may be:
// JPEG (0x0006) and chunk data (0x0004). A host learns a block's size from the JPEG
// leader's data size, or the chunk trailer's chunk payload length, and from the
// trailer's packet id; never from PayloadSize. Sizes and bytes follow the formulas in
// StreamPayload.h. Pure functions, any thread.
#pragma once

#include <cstdint>

#include "StreamPayload.h"

namespace GevSim {

class VariablePayload {
public:
    // The largest payload of the format's type: what PayloadSize announces.
    static uint64_t MaxSize(const StreamFormat& format);
    static uint64_t JpegSize(const StreamFormat& format, uint64_t blockId);
    static uint8_t JpegByte(uint64_t index, uint64_t blockId);
    // Length of the chunk data's first chunk (without its tag).
    static uint32_t DataChunkLength(const StreamFormat& format, uint64_t blockId);
    static uint8_t DataChunkByte(uint64_t index, uint64_t blockId);

    static BlockContent BuildJpeg(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                                  std::vector<uint8_t> buffer = {});
    static BlockContent BuildChunkData(const StreamFormat& format, uint64_t blockId,
                                       uint64_t timestamp, std::vector<uint8_t> buffer = {});
};

}  // namespace GevSim
