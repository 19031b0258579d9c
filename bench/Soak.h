// gentl_bench soak: one lossy stream through GenTL with packet resend for some
// minutes; every frame must be complete, hold the test pattern and follow its
// predecessor's ID, and the resident memory must stay flat.
#pragma once

#include <cstdint>
#include <string>

namespace Bench {

struct SoakOptions {
    double minutes = 10;
    double loss = 0.01;
    uint64_t seed = 7;
    bool zeroCopy = false;
    float fps = 0;  // 0: as fast as the link lets it
    uint32_t linkSpeed = 1000;
    uint32_t packetSize = 1500;
    uint32_t width = 640, height = 480;
    uint32_t resendCount = 0;        // packets asked for per block; 0: the library's own
    std::string sendMode = "plain";  // how the simulator sends: plain, batch or gso
};

// Options after "soak"; false when one is unknown or out of bounds.
bool ParseSoak(int argc, char** argv, SoakOptions* options);
// Exit status 1 when a frame was lost, incomplete, corrupt or delivered twice.
int Soak(const SoakOptions& options);

}  // namespace Bench
