// One PACKETRESEND command for stream channel `channel`, as parsed from GVCP.
#pragma once

#include <cstdint>

namespace GevSim {

struct ResendRequest {
    uint16_t channel = 0;
    uint64_t blockId = 0;
    uint32_t firstPacketId = 0;
    uint32_t lastPacketId = 0;
    bool extendedIds = false;  // flag 0x10: 64-bit block id, 32-bit packet ids
};

}  // namespace GevSim
