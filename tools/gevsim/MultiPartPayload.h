// Multi-part blocks (0x000A): a 2D image part and a confidence map part, with
// three parts a Mono16 range map before them, described one by one in the leader
// (a 48-byte descriptor each) and the trailer (16 bytes each), each sent in its own
// run of multi-part data packets. Contents as in StreamPayload.h.
// Pure functions, any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "StreamPayload.h"

namespace GevSim {

class MultiPartPayload {
public:
    static constexpr uint32_t kMaxParts = 3;
    static constexpr uint32_t kConfidence8 = 0x010800C6;
    static constexpr uint32_t kMono16 = 0x01100007;
    // Data purpose IDs of the parts.
    static constexpr uint16_t kPurposeRange = 1, kPurposeIntensity = 2, kPurposeConfidence = 3;

    // Sizes of the confidence map.
    static uint32_t ConfidenceWidth(const StreamFormat& format) { return format.width / 2; }
    static uint32_t ConfidenceHeight(const StreamFormat& format) { return format.height / 2; }
    static uint8_t Confidence(uint32_t x, uint32_t y, uint64_t blockId);
    static uint16_t Range(uint32_t x, uint32_t y, uint64_t blockId);
    // 2 or 3, whatever the format asks for.
    static uint32_t Parts(const StreamFormat& format) { return format.parts == 3 ? 3 : 2; }
    // All parts: what PayloadSize announces, and every block's payload.
    static uint64_t Size(const StreamFormat& format);

    static BlockContent Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                              std::vector<uint8_t> buffer = {});
};

}  // namespace GevSim
