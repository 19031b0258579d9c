// The least any receiver must do with a GVSP stream, as the floor to measure
// ours against on the same stream (CPU per GB, latency): datagrams read in
// batches (recvmmsg), each payload copied to its place in one frame, and the
// moment each trailer was read. No resend, no bookkeeping of blocks, no delivery.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace Bench {

class BareReceiver {
public:
    struct Trailer {
        uint64_t blockId;
        int64_t readNs;  // CLOCK_REALTIME, right after the read that returned it
    };

    // A socket on 0.0.0.0, a port of the system's choice; reads until destroyed.
    // Throws runtime_error when the socket cannot be made.
    explicit BareReceiver(size_t frameBytes);
    ~BareReceiver();
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;

    uint16_t port() const { return m_port; }

    // So far: trailers read, payload bytes copied, and while it reads, the
    // reading thread's CPU time.
    struct Counters {
        uint64_t trailers = 0;
        uint64_t bytes = 0;
        double cpuSeconds = 0;
    };
    Counters Read();
    // Stops reading; the trailers read until then, oldest first.
    std::vector<Trailer> Stop();

private:
    void Run();

    int m_fd = -1;
    uint16_t m_port = 0;
    std::vector<uint8_t> m_frame;
    std::vector<Trailer> m_trailers;
    std::atomic<uint64_t> m_trailerCount{0}, m_bytes{0};
    std::atomic<bool> m_stop{false};  // seen within a read's time-out
    std::thread m_thread;
};

}  // namespace Bench
