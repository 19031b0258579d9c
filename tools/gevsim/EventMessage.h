// One event the camera reports on its message channel (EVENT or EVENTDATA command).
#pragma once

#include <cstdint>
#include <vector>

namespace GevSim {

struct EventMessage {
    uint16_t eventId = 0;
    uint16_t streamChannel = 0xFFFF;  // 0xFFFF: not tied to a stream channel
    uint64_t blockId = 0;             // the low 16 bits only, unless extendedIds
    uint64_t timestamp = 0;
    std::vector<uint8_t> data;  // empty: EVENT_CMD; else EVENTDATA_CMD
    bool extendedIds = false;   // 64-bit block id layout (flag 0x10)
    bool ackRequired = true;
};

}  // namespace GevSim
