// The simulator beside a benchmark, in a process of its own so that the CPU time
// measured in the benchmark's process is the receiver's.
#pragma once

#include <cstdint>
#include <string>

#include "ChildProcess.h"
#include "GevSimCamera.h"

namespace Bench {

// How the `gevsim` program is started: 2048 x 1536 Mono8 by default as fast as
// it can on 127.0.0.2 in this namespace, a still test pattern (drawn once, so that
// the simulator's drawing does not set the rate the receiver is measured at).
struct GevsimOptions {
    uint32_t packetSize = 1500;
    std::string serial = "GTLBENCH";
    std::string fps = "max";
    std::string sendMode;  // empty: gevsim's default
    std::string address = "127.0.0.2";
    std::string netns;  // when set, run there through `ip netns exec`
    std::string mac;    // empty: gevsim's default; cameras side by side need their own
    uint32_t linkSpeedMbps = 100000;
};

// The `gevsim` program; ready once it says it serves.
class GevsimProgram {
public:
    explicit GevsimProgram(const GevsimOptions& options);
    GevsimProgram(uint32_t packetSize, const std::string& serial);

private:
    TestProcess::ChildProcess m_child;
};

// The simulator in a fork of this process that tells its stream counters (packets
// dropped, resend requests, packets resent) when it is stopped. Made before this
// process starts any thread, so the fork may run the camera's.
class SimulatorProcess {
public:
    SimulatorProcess(const GevSim::CameraConfig& config, double lossRatio, uint64_t seed);
    // Stops the simulator; its counters, when it told them.
    bool Stop(GevSim::StreamStatistics* statistics);

private:
    int Serve(const GevSim::CameraConfig& config, double lossRatio, uint64_t seed);

    TestProcess::Pipe m_ready, m_statistics;
    TestProcess::ChildProcess m_child;
};

}  // namespace Bench
