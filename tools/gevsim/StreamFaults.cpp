#include "StreamFaults.h"

#include <algorithm>
#include <numeric>

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

uint64_t Hash(uint64_t seed, uint64_t blockId, uint32_t packetId) {
    return SplitMix(seed ^ SplitMix(blockId ^ SplitMix(packetId)));
}

// 53 hashed bits as a fraction in [0, 1).
double Fraction(uint64_t hash) {
    return static_cast<double>(hash >> 11) * 0x1.0p-53;
}

// Each ratio salts its seed: with one seed for all of them, the packets lost would
// otherwise be exactly the ones duplicated or held.
constexpr uint64_t kDuplicateSalt = 0xD0B1E5A17D0B1E5Aull;
constexpr uint64_t kReorderSalt = 0x5E0D3E5A175E0D3Eull;
constexpr uint64_t kDistanceSalt = 0xD157A9CED157A9CEull;

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

void StreamFaults::SpareOnePacketPerBlock(bool spare) {
    std::lock_guard<std::mutex> lock(mutex_);
    spare_ = spare;
}

void StreamFaults::DuplicateRatio(double ratio, uint64_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    duplicateRatio_ = std::clamp(ratio, 0.0, 1.0);
    duplicateSeed_ = seed;
}

void StreamFaults::ReorderRatio(double ratio, uint64_t seed, uint32_t maxDistance) {
    std::lock_guard<std::mutex> lock(mutex_);
    reorderRatio_ = std::clamp(ratio, 0.0, 1.0);
    reorderSeed_ = seed;
    reorderDistance_ = maxDistance;
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
    ratio_ = duplicateRatio_ = reorderRatio_ = 0;
    seed_ = duplicateSeed_ = reorderSeed_ = 0;
    reorderDistance_ = 0;
    skip_ = 0;
    silent_ = ratioAlways_ = spare_ = false;
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
    plan.duplicateRatio = duplicateRatio_;
    plan.duplicateSeed = duplicateSeed_;
    plan.reorderRatio = reorderRatio_;
    plan.reorderSeed = reorderSeed_;
    plan.reorderDistance = reorderDistance_;
    if (spare_ && ratio_ > 0 && trailerId > 0) plan.spared = SparedPacket(plan);
    return plan;
}

// The packet ratio loss lets through when it would lose the whole block; none when
// something gets through anyway, or when rules alone drop every packet.
std::optional<uint32_t> StreamFaults::SparedPacket(const BlockPlan& plan) {
    for (uint32_t id = 0; id <= plan.trailerId; ++id)
        if (!plan.Drops(id, false)) return std::nullopt;
    std::vector<uint32_t> candidates(plan.trailerId > 1 ? plan.trailerId - 1 : 0);
    std::iota(candidates.begin(), candidates.end(), 1u);
    candidates.push_back(0);
    candidates.push_back(plan.trailerId);
    for (uint32_t id : candidates)
        if (!plan.DroppedByRule(id, false)) return id;
    return std::nullopt;
}

bool StreamFaults::BlockPlan::DroppedByRule(uint32_t packetId, bool resend) const {
    for (const auto& [id, always] : drops)
        if (id == packetId && (always || !resend)) return true;
    return false;
}

bool StreamFaults::BlockPlan::DroppedByRatio(uint32_t packetId, bool resend) const {
    if (ratio <= 0 || (resend && !ratioAlways)) return false;
    if (!resend && spared == packetId) return false;
    return Fraction(Hash(seed, blockId, packetId)) < ratio;
}

bool StreamFaults::BlockPlan::Drops(uint32_t packetId, bool resend) const {
    return DroppedByRule(packetId, resend) || DroppedByRatio(packetId, resend);
}

bool StreamFaults::BlockPlan::Duplicated(uint32_t packetId) const {
    if (std::find(duplicates.begin(), duplicates.end(), packetId) != duplicates.end()) return true;
    return duplicateRatio > 0 &&
           Fraction(Hash(duplicateSeed ^ kDuplicateSalt, blockId, packetId)) < duplicateRatio;
}

uint32_t StreamFaults::BlockPlan::Held(uint32_t packetId) const {
    if (reorderRatio <= 0 || reorderDistance == 0) return 0;
    if (Fraction(Hash(reorderSeed ^ kReorderSalt, blockId, packetId)) >= reorderRatio) return 0;
    return 1 + static_cast<uint32_t>(Hash(reorderSeed ^ kDistanceSalt, blockId, packetId) %
                                     reorderDistance);
}

std::vector<uint32_t> StreamFaults::BlockPlan::Order() const {
    std::vector<uint32_t> order(trailerId + 1);
    std::iota(order.begin(), order.end(), 0u);
    for (const auto& [first, second] : swaps) {
        auto a = std::find(order.begin(), order.end(), first);
        auto b = std::find(order.begin(), order.end(), second);
        if (a != order.end() && b != order.end()) std::iter_swap(a, b);
    }
    if (reorderRatio <= 0) return order;
    // A packet held k places sorts just after the one that was k places behind it.
    std::vector<std::pair<double, uint32_t>> keyed;
    keyed.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const uint32_t held = Held(order[i]);
        keyed.emplace_back(static_cast<double>(i) + (held ? held + 0.5 : 0.0), order[i]);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
    return order;
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
