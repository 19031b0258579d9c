// stream_bench loopback: the raw ceiling of the machine's receive path (and the
// same path with a scatter read in place of the copy), then
// VantorLib's and Aravis's receivers on the same gevsim stream over loopback,
// every figure also as a ratio to that ceiling.
#pragma once

namespace Bench {

// Rounds of `seconds` each per figure, medians reported; run inside netns-run.
int LoopbackStreams(double seconds, int rounds);

}  // namespace Bench
