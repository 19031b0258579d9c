// gentl_bench latency: from a trailer's arrival on this host to EventGetData
// handing its buffer to the consumer, through the built producer, at 100 fps
// and at the simulator's full rate, in copy and in zero-copy delivery.
#pragma once

#include <cstdint>
#include <string>

namespace Bench {

// `sendMode` plain, batch or gso; empty: each fast mode this gevsim has.
int Latency(double seconds, uint32_t packetSize, std::string sendMode);

}  // namespace Bench
