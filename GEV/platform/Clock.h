// Time for the protocol library: a millisecond tick that wraps as the
// system's tick count does, a high-resolution counter, the local time of day.
#pragma once

#include <cstdint>

namespace Platform {

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32.
uint32_t TickCount();
// A monotonic counter and its frequency in counts per second.
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

struct TimeOfDay {
    int hour, minute, second;
};
TimeOfDay LocalTimeOfDay();

void SleepMs(uint32_t milliseconds);

}  // namespace Platform
