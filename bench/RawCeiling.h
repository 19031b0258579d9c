// The ceiling of this machine's receive path: bare sendmmsg -> recvmmsg of
// datagrams of one size over loopback, copied into a pair of frame buffers,
// with nothing of GigE Vision. The sender runs in a child process, so that
// the CPU time measured is the receiver's alone.
#pragma once

#include <cstdint>

namespace Bench {

struct CeilingMeasurement {
    double seconds = 0;
    uint64_t datagrams = 0;  // received in the window
    uint64_t bytes = 0;      // of payload, as copied into the frames
    double cpuSeconds = 0;   // the receiving thread's, user + system
    double senderMBps = 0;   // what the sender put out over its whole run
    uint64_t moved = 0;      // scatter reads that landed away from their place
    double MBps() const { return seconds > 0 ? bytes / seconds / 1e6 : 0.0; }
    double PacketsPerSecond() const { return seconds > 0 ? datagrams / seconds : 0.0; }
    double CpuPerGB() const { return bytes > 0 ? cpuSeconds / (bytes / 1e9) : 0.0; }
};

// How the receiver moves a datagram into its frame: read whole into a batch
// buffer and copied (Copy), or read with its header apart and its data straight
// into the place the next datagram in sequence would take (Scatter; one that is
// not the predicted one is moved once).
enum class CeilingRead { Copy, Scatter };

// `payload` bytes per UDP datagram (1472 for SCPS 1500, 8972 for 9000), for
// `seconds` after a short warm-up; throws runtime_error when nothing arrives.
CeilingMeasurement MeasureCeiling(uint32_t payload, double seconds,
                                  CeilingRead read = CeilingRead::Copy);

}  // namespace Bench
