// The stream fault ratios as plans, without sockets: duplicates and held packets are
// the same for the same seed and differ for another, a held packet moves only a few
// places later within its block, and spared ratio loss lets one packet of every block
// through.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "StreamFaults.h"

namespace {

using GevSim::StreamFaults;
using Marks = std::set<std::pair<uint64_t, uint32_t>>;

constexpr uint32_t kTrailer = 40;
constexpr uint64_t kBlocks = 50;

Marks Duplicates(const StreamFaults& faults) {
    Marks marks;
    for (uint64_t block = 1; block <= kBlocks; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        for (uint32_t id = 0; id <= kTrailer; ++id)
            if (plan.Duplicated(id)) marks.emplace(block, id);
    }
    return marks;
}

std::vector<std::vector<uint32_t>> Orders(const StreamFaults& faults) {
    std::vector<std::vector<uint32_t>> orders;
    for (uint64_t block = 1; block <= kBlocks; ++block)
        orders.push_back(faults.Plan(block, kTrailer).Order());
    return orders;
}

TEST(StreamFaultPlan, DuplicateRatioIsTheSameForTheSameSeed) {
    StreamFaults faults;
    EXPECT_TRUE(Duplicates(faults).empty());
    faults.DuplicateRatio(0.1, 7);
    const Marks first = Duplicates(faults);
    EXPECT_GE(first.size(), 120u);  // about 205 of 2050
    EXPECT_LE(first.size(), 300u);
    EXPECT_EQ(Duplicates(faults), first);
    faults.DuplicateRatio(0.1, 8);
    EXPECT_NE(Duplicates(faults), first);
    faults.DuplicateRatio(1.0, 8);
    EXPECT_EQ(Duplicates(faults).size(), kBlocks * (kTrailer + 1));
    faults.Clear();
    EXPECT_TRUE(Duplicates(faults).empty());
}

TEST(StreamFaultPlan, RatiosWithOneSeedUpsetDifferentPackets) {
    StreamFaults faults;
    faults.DropRatio(0.2, 5);
    faults.DuplicateRatio(0.2, 5);
    Marks lost;
    for (uint64_t block = 1; block <= kBlocks; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        for (uint32_t id = 0; id <= kTrailer; ++id)
            if (plan.Drops(id, false)) lost.emplace(block, id);
    }
    const Marks duplicated = Duplicates(faults);
    Marks both;
    std::set_intersection(lost.begin(), lost.end(), duplicated.begin(), duplicated.end(),
                          std::inserter(both, both.end()));
    EXPECT_LT(both.size(), lost.size() / 2);  // about a fifth of them, not all
}

TEST(StreamFaultPlan, HeldPacketsLeaveAFewPlacesLaterWithinTheirBlock) {
    StreamFaults faults;
    const auto plain = Orders(faults);
    for (const auto& order : plain) {
        ASSERT_EQ(order.size(), kTrailer + 1);
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
    faults.ReorderRatio(0.1, 3, 4);
    const auto orders = Orders(faults);
    EXPECT_EQ(Orders(faults), orders);
    size_t moved = 0;
    for (uint64_t block = 1; block <= kBlocks; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        const auto& order = orders[block - 1];
        std::vector<uint32_t> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, plain[0]) << "not a permutation, block " << block;
        std::vector<size_t> position(order.size());
        for (size_t i = 0; i < order.size(); ++i) position[order[i]] = i;
        for (uint32_t id = 0; id <= kTrailer; ++id) {
            const uint32_t held = plan.Held(id);
            EXPECT_LE(held, 4u);
            if (held == 0) {
                EXPECT_LE(position[id], id) << block << "/" << id;  // only others pass it
                continue;
            }
            ++moved;
            EXPECT_LE(position[id], size_t{id} + held) << block << "/" << id;
            // It leaves after every packet up to `held` places behind that stays put.
            for (uint32_t next = id + 1; next <= std::min(id + held, kTrailer); ++next)
                if (plan.Held(next) == 0) {
                    EXPECT_GT(position[id], position[next]);
                }
        }
    }
    EXPECT_GE(moved, 120u);  // about 205 of 2050
    EXPECT_LE(moved, 300u);
    faults.ReorderRatio(0.1, 4, 4);
    EXPECT_NE(Orders(faults), orders);
}

TEST(StreamFaultPlan, SwapsAndHeldPacketsCombine) {
    StreamFaults faults;
    faults.SwapPackets(1, 1, 2);
    faults.ReorderRatio(1.0, 9, 1);  // every packet one place later: the order stays
    auto order = faults.Plan(1, 4).Order();
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 2, 1, 3, 4}));
}

TEST(StreamFaultPlan, SparedLossLetsTheFirstDataPacketOfEveryBlockThrough) {
    StreamFaults faults;
    faults.DropRatio(1.0, 11);
    for (uint64_t block = 1; block <= 5; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        EXPECT_FALSE(plan.spared);
        for (uint32_t id = 0; id <= kTrailer; ++id) EXPECT_TRUE(plan.Drops(id, false));
    }
    faults.SpareOnePacketPerBlock();
    for (uint64_t block = 1; block <= 5; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        ASSERT_TRUE(plan.spared);
        EXPECT_EQ(*plan.spared, 1u);
        for (uint32_t id = 0; id <= kTrailer; ++id) EXPECT_EQ(plan.Drops(id, false), id != 1);
        EXPECT_FALSE(plan.Drops(5, true));  // resends still get through
    }
    // A rule that drops packet 1 moves the spare to packet 2; rules stay rules.
    faults.DropPackets(StreamFaults::kEveryBlock, {1});
    auto plan = faults.Plan(3, kTrailer);
    ASSERT_TRUE(plan.spared);
    EXPECT_EQ(*plan.spared, 2u);
    EXPECT_TRUE(plan.Drops(1, false));
    // A block without data packets keeps its leader.
    plan = faults.Plan(3, 1);
    ASSERT_TRUE(plan.spared);
    EXPECT_EQ(*plan.spared, 0u);
}

TEST(StreamFaultPlan, SparedLossChangesNothingWhenSomethingGetsThrough) {
    StreamFaults faults;
    faults.DropRatio(0.5, 12);
    std::vector<std::vector<bool>> before;
    for (uint64_t block = 1; block <= kBlocks; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        std::vector<bool> drops;
        for (uint32_t id = 0; id <= kTrailer; ++id) drops.push_back(plan.Drops(id, false));
        before.push_back(drops);
    }
    faults.SpareOnePacketPerBlock();
    for (uint64_t block = 1; block <= kBlocks; ++block) {
        const auto plan = faults.Plan(block, kTrailer);
        EXPECT_FALSE(plan.spared) << block;
        for (uint32_t id = 0; id <= kTrailer; ++id)
            EXPECT_EQ(plan.Drops(id, false), before[block - 1][id]) << block << "/" << id;
    }
}

}  // namespace
