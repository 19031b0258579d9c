// Measuring and printing for the benchmarks: one receive window's counts, the
// process's CPU time and resident memory, medians of rounds.
#pragma once

#include <cstdint>
#include <vector>

namespace Bench {

struct Measurement {
    uint64_t frames = 0;      // complete
    uint64_t incomplete = 0;  // delivered with packets missing
    double seconds = 0;
    double cpuSeconds = 0;  // this process, user + system, over the window
    uint32_t payload = 0;
    double CpuPerFrameUs() const {
        const uint64_t delivered = frames + incomplete;
        return delivered > 0 ? cpuSeconds / delivered * 1e6 : 0.0;
    }
    double Fps() const { return seconds > 0 ? frames / seconds : 0.0; }
};

// One line: what, frames, seconds, frames/s, MB/s.
void Report(const char* what, uint64_t frames, double seconds, uint64_t frameBytes);
// The same, then the incomplete frames and the CPU time per frame.
void Report(const char* what, const Measurement& m);

// User + system CPU seconds of this process, all its threads.
double CpuSeconds();
// Now on CLOCK_REALTIME, the clock the kernel stamps received datagrams on, in ns.
int64_t RealtimeNs();
// VmRSS of this process in kB, 0 when /proc does not tell.
long ResidentKb();

double Median(std::vector<double> values);
// How far `value` lies above `base`, in percent of it.
double Percent(double value, double base);

}  // namespace Bench
