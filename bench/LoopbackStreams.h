// stream_bench loopback: the raw ceiling of the machine's receive path (and the
// same path with a scatter read in place of the copy), then a bare receiver,
// VantorLib's and Aravis's on the same gevsim stream over loopback, every
// figure also as a ratio to that ceiling, and CPU per GB to the bare one's.
#pragma once

namespace Bench {

// Rounds of `seconds` each per figure, medians reported; run inside netns-run.
int LoopbackStreams(double seconds, int rounds);

}  // namespace Bench
