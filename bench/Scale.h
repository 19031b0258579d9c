// gentl_bench scale: four simulated cameras, each in its own namespace behind a
// veth link, streaming at once into this process's four GenTL data streams, at
// rates that add up to a fraction of the single-stream rate measured first.
#pragma once

#include <cstdint>
#include <string>

namespace Bench {

struct ScaleOptions {
    double seconds = 4;
    int rounds = 3;
    uint32_t packetSize = 9000;  // the veth links need an MTU to match (netns-run --mtu)
    double fraction = 0.8;       // of the single-stream rate, shared by the four
    std::string sendMode;        // empty: the fastest this gevsim has
};

// Needs GEVTLKRV_NETNS_CAM0..3 (netns-run --cameras 4).
int Scale(const ScaleOptions& options);

}  // namespace Bench
