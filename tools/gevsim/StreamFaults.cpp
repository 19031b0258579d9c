#include "StreamFaults.h"

#include <algorithm>

namespace GevSim {

namespace {

bool Matches(uint64_t rule, uint64_t blockId) {
    return rule == StreamFaults::kEveryBlock || rule == blockId;
}

uint32_t Resolve(uint32_t packetId, uint32_t trailerId) {
    return packetId == StreamFaults::kTrailer ? trailerId : packetId;
}

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

void StreamFaults::DropPackets(uint64_t blockId, std::vector<uint32_t> packetIds, Drop when) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t id : packetIds) drops_.push_back({blockId, id, 0, 0, when == Drop::Always});
}

void StreamFaults::DropRatio(double ratio, uint64_t seed, Drop when) {
    std::lock_guard<std::mutex> lock(mutex_);
    ratio_ = std::clamp(ratio, 0.0, 1.0);
    seed_ = seed;
    ratioAlways_ = when == Drop::Always;
}

void StreamFaults::SwapPackets(uint64_t blockId, uint32_t first, uint32_t second) {
    std::lock_guard<std::mutex> lock(mutex_);
    swaps_.push_back({blockId, first, second});
}

void StreamFaults::DuplicatePackets(uint64_t blockId, std::vector<uint32_t> packetIds) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t id : packetIds) duplicates_.push_back({blockId, id});
}

void StreamFaults::ShortTrailer(uint64_t blockId, uint32_t rows) {
    std::lock_guard<std::mutex> lock(mutex_);
    shortRows_.emplace_back(blockId, rows);
}

void StreamFaults::FlagDeviceDiscard(uint64_t blockId) {
    std::lock_guard<std::mutex> lock(mutex_);
    discards_.push_back(blockId);
}

void StreamFaults::SkipBlockIds(uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    skip_ = count;
}

void StreamFaults::SetPacketStatus(uint64_t blockId, uint32_t packetId, uint16_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_.push_back({blockId, packetId, 0, status});
}

void StreamFaults::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
}

void StreamFaults::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    drops_.clear();
    swaps_.clear();
    duplicates_.clear();
    statuses_.clear();
    shortRows_.clear();
    discards_.clear();
    ratio_ = 0;
    skip_ = 0;
    silent_ = ratioAlways_ = false;
}

StreamFaults::BlockPlan StreamFaults::Plan(uint64_t blockId, uint32_t trailerId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    BlockPlan plan;
    plan.blockId = blockId;
    plan.trailerId = trailerId;
    for (const Rule& r : drops_)
        if (Matches(r.blockId, blockId))
            plan.drops.emplace_back(Resolve(r.packetId, trailerId), r.always);
    for (const Rule& r : swaps_)
        if (Matches(r.blockId, blockId))
            plan.swaps.emplace_back(Resolve(r.packetId, trailerId), Resolve(r.second, trailerId));
    for (const Rule& r : duplicates_)
        if (Matches(r.blockId, blockId)) plan.duplicates.push_back(Resolve(r.packetId, trailerId));
    for (const Rule& r : statuses_)
        if (Matches(r.blockId, blockId))
            plan.statuses.emplace_back(Resolve(r.packetId, trailerId), r.status);
    for (const auto& [block, rows] : shortRows_)
        if (Matches(block, blockId)) plan.shortRows = rows;
    plan.deviceDiscard = std::any_of(discards_.begin(), discards_.end(),
                                     [&](uint64_t block) { return Matches(block, blockId); });
    plan.ratio = ratio_;
    plan.seed = seed_;
    plan.ratioAlways = ratioAlways_;
    return plan;
}

bool StreamFaults::BlockPlan::Drops(uint32_t packetId, bool resend) const {
    for (const auto& [id, always] : drops)
        if (id == packetId && (always || !resend)) return true;
    if (ratio > 0 && (ratioAlways || !resend)) {
        const uint64_t hash = SplitMix(seed ^ SplitMix(blockId ^ SplitMix(packetId)));
        // 53 random bits as a fraction in [0, 1).
        if (static_cast<double>(hash >> 11) * 0x1.0p-53 < ratio) return true;
    }
    return false;
}

bool StreamFaults::BlockPlan::Duplicated(uint32_t packetId) const {
    return std::find(duplicates.begin(), duplicates.end(), packetId) != duplicates.end();
}

uint16_t StreamFaults::BlockPlan::Status(uint32_t packetId) const {
    for (const auto& [id, status] : statuses)
        if (id == packetId) return status;
    return 0;
}

uint64_t StreamFaults::TakeBlockIdSkip() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(skip_, 0);
}

bool StreamFaults::Silent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return silent_;
}

}  // namespace GevSim
