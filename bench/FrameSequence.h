// Frame IDs as they arrive at a consumer: which frames were never delivered,
// delivered twice or after a later one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace Bench {

// Frame IDs as they arrive, unwrapped into a sequence (16-bit block IDs go from
// 0xFFFF to 1): tells frames never delivered, delivered twice and delivered after
// a later one apart. An ID is settled as lost once the stream is a window past it.
class FrameSequence {
public:
    enum Arrival { kInOrder, kLate, kDuplicate };

    Arrival Add(uint64_t frameId) {
        const int64_t number = Unwrap(frameId);
        Arrival arrival = kInOrder;
        if (number < m_floor || m_seen[Slot(number)] == number) {
            // Before the window: taken as delivered already, the sender never goes back that far.
            arrival = kDuplicate;
        } else {
            if (number < m_highest) arrival = kLate;
            m_seen[Slot(number)] = number;
        }
        m_highest = std::max(m_highest, number);
        while (m_highest - m_floor >= kWindow / 2) Settle();
        return arrival;
    }
    // IDs never delivered: settled ones, plus the open window's holes when `final`.
    uint64_t Lost(bool final) {
        if (final)
            while (m_floor <= m_highest) Settle();
        return m_lost;
    }
    // The ID of the latest frame so far, 0 before the first.
    uint64_t LatestId() const {
        return m_highest <= 0 ? 0 : static_cast<uint64_t>((m_highest - 1) % kRing + 1);
    }

private:
    static constexpr int64_t kWindow = 4096;
    static constexpr int64_t kRing = 0xFFFF;  // IDs 1..0xFFFF

    static size_t Slot(int64_t number) { return static_cast<size_t>(number % kWindow); }
    // The sequence number nearest to the highest one that carries `frameId`.
    int64_t Unwrap(uint64_t frameId) const {
        // The first frame, and 64-bit IDs, need no unwrapping.
        if (m_highest == 0 || frameId > 0xFFFF) return static_cast<int64_t>(frameId);
        const int64_t highestId = (m_highest - 1) % kRing + 1;
        int64_t delta = (static_cast<int64_t>(frameId) - highestId + kRing) % kRing;
        if (delta > kRing / 2) delta -= kRing;
        return m_highest + delta;
    }
    void Settle() {
        if (m_seen[Slot(m_floor)] != m_floor && ++m_lost <= 10) {
            std::printf("soak: frame %lld never delivered\n",
                        static_cast<long long>((m_floor - 1) % kRing + 1));
        }
        ++m_floor;
    }

    std::vector<int64_t> m_seen = std::vector<int64_t>(kWindow, -1);
    int64_t m_floor = 1;  // the first block has ID 1
    int64_t m_highest = 0;
    uint64_t m_lost = 0;
};

// Block IDs missing between two frames delivered one after the other (16-bit
// IDs run 1..0xFFFF); 0 for a repeat or a step back.
inline uint64_t MissingBetween(uint64_t previous, uint64_t id) {
    if (previous == 0 || id == previous) return 0;
    const uint64_t step =
        id > 0xFFFF || previous > 0xFFFF ? id - previous : (id + 0xFFFF - previous) % 0xFFFF;
    return step > 0 && step < 0x8000 ? step - 1 : 0;
}

}  // namespace Bench
