// Fills test-pattern bytes by copying instead of computing each byte: a sequence that
// repeats every `period` bytes is computed once and then doubled in place. Pure.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace GevSim {

// [at, at + total) repeats its first `period` bytes, which must be written already.
inline void RepeatPrefix(uint8_t* at, size_t period, size_t total) {
    for (size_t filled = std::min(period, total); filled < total;) {
        const size_t n = std::min(filled, total - filled);
        std::memcpy(at + filled, at, n);
        filled += n;
    }
}

// at[i] = byteAt(i) for i < size, where byteAt(i + period) == byteAt(i).
template <typename ByteAt>
void FillPeriodic(uint8_t* at, size_t size, size_t period, ByteAt byteAt) {
    const size_t first = std::min(period, size);
    for (size_t i = 0; i < first; ++i) at[i] = byteAt(i);
    RepeatPrefix(at, period, size);
}

}  // namespace GevSim
