// gentl_bench throughput: gevsim sending as fast as it can over loopback,
// received by the protocol library alone and through GenTL, in copy and
// zero-copy delivery; the GenTL layer's cost against the library's.
#pragma once

namespace Bench {

// N rounds of S seconds per packet size and delivery; prints each and the medians.
int Throughput(double seconds, int rounds);

}  // namespace Bench
