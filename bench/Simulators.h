// The simulator beside a benchmark, in a process of its own so that the CPU time
// measured in the benchmark's process is the receiver's.
#pragma once

#include <cstdint>
#include <string>

#include "ChildProcess.h"
#include "GevSimCamera.h"

namespace Bench {

// The `gevsim` program sending 2048 x 1536 Mono8 as fast as it can on 127.0.0.2;
// ready once it says it serves.
class GevsimProgram {
public:
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
