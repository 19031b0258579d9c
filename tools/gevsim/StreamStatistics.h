// Counters of stream channel 0, as GevSim::Camera::StreamStats() reports them.
#pragma once

#include <cstdint>

namespace GevSim {

struct StreamStatistics {
    uint64_t blocksSent = 0;      // blocks made while the channel was open
    uint64_t packetsSent = 0;     // first transmissions that left the socket
    uint64_t packetsDropped = 0;  // first transmissions a fault (or silence) swallowed
    uint64_t resendRequests = 0;  // PACKETRESEND commands for this channel
    uint64_t packetsResent = 0;
    uint64_t packetsUnavailable = 0;  // PACKET_UNAVAILABLE answers
    uint64_t testPackets = 0;
    uint64_t lastBlockId = 0;     // 0: none yet
    uint64_t segmentedSends = 0;  // UDP_SEGMENT sends of two datagrams or more
};

}  // namespace GevSim
