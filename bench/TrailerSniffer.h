// When each GVSP trailer to one UDP port reached this namespace's loopback: a
// packet socket on `lo` that keeps only trailers to that port (a socket filter
// in the kernel) and reads the kernel's receive time stamp of each.
#pragma once

#include <cstdint>
#include <vector>

namespace Bench {

class TrailerSniffer {
public:
    struct Trailer {
        uint64_t blockId;
        int64_t arrivalNs;  // CLOCK_REALTIME, as the kernel stamped the datagram
    };

    // Throws runtime_error when the socket cannot be made (needs CAP_NET_RAW).
    explicit TrailerSniffer(uint16_t port);
    ~TrailerSniffer();
    TrailerSniffer(const TrailerSniffer&) = delete;
    TrailerSniffer& operator=(const TrailerSniffer&) = delete;

    // Every trailer queued since the last call, oldest first.
    std::vector<Trailer> Drain();
    // Trailers the socket had to drop for want of room (reading resets it).
    uint64_t Dropped();

private:
    int m_fd = -1;
};

}  // namespace Bench
