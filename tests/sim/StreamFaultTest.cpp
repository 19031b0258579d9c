// Each stream fault once, as a host receives it: packet loss by id and by seeded
// ratio, loss that survives resends, reordering, duplicates, lost leader and trailer,
// a short trailer, the device-discard flag, a block id gap, error status and silence;
// then the seeded duplicate and reorder ratios, and ratio loss that spares every block.
#include <algorithm>
#include <set>

#include "StreamTestBase.h"

namespace SimTest {
namespace {

using GevSim::StreamFaults;

class StreamFaultTest : public StreamTestBase {
protected:
    StreamFaults& faults() { return camera_->faults().Stream(); }

    // Packet ids of each block in arrival order.
    static std::map<uint64_t, std::vector<uint32_t>> Order(const std::vector<GvspPacket>& packets) {
        std::map<uint64_t, std::vector<uint32_t>> order;
        for (const GvspPacket& packet : packets) order[packet.blockId].push_back(packet.packetId);
        return order;
    }

    void Resend(uint16_t block, uint32_t first, uint32_t last) {
        Bytes request;
        PutBe16(request, 0);
        PutBe16(request, block);
        PutBe32(request, first);
        PutBe32(request, last);
        client_.Send(0x0040, request, 0x00);
    }
};

TEST_F(StreamFaultTest, ReorderDuplicateAndLostLeaderOrTrailer) {
    faults().SwapPackets(1, 1, 2);
    faults().DuplicatePackets(2, {3});
    faults().DropPackets(3, {StreamFaults::kLeader});
    faults().DropPackets(4, {StreamFaults::kTrailer});
    const auto order = Order(Acquire(4));
    using Ids = std::vector<uint32_t>;
    EXPECT_EQ(order.at(1), (Ids{0, 2, 1, 3, 4}));
    EXPECT_EQ(order.at(2), (Ids{0, 1, 2, 3, 3, 4}));
    EXPECT_EQ(order.at(3), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(order.at(4), (Ids{0, 1, 2, 3}));
}

TEST_F(StreamFaultTest, LossOnFirstTransmissionOnlyOrAlways) {
    faults().DropPackets(StreamFaults::kEveryBlock, {1}, StreamFaults::Drop::FirstTransmission);
    faults().DropPackets(StreamFaults::kEveryBlock, {2}, StreamFaults::Drop::Always);
    const auto order = Order(Acquire(2));
    EXPECT_EQ(order.at(1), (std::vector<uint32_t>{0, 3, 4}));
    EXPECT_EQ(order.at(2), (std::vector<uint32_t>{0, 3, 4}));
    Resend(2, 1, 2);
    const auto resent = Order(receiver_.Collect(1, 300));
    EXPECT_EQ(resent.at(2), (std::vector<uint32_t>{1}));  // packet 2 stays lost
    const auto stats = camera_->StreamStats();
    EXPECT_EQ(stats.packetsDropped, 4u);
    EXPECT_EQ(stats.packetsResent, 1u);
}

TEST_F(StreamFaultTest, RatioLossIsTheSameForTheSameSeed) {
    ASSERT_EQ(client_.WriteReg(kHeightReg, 200), 0);  // 12800 bytes: 24 data packets
    faults().DropRatio(0.25, 42);
    auto lost = [&] {
        std::set<std::pair<uint64_t, uint32_t>> missing;
        const auto order = Order(Acquire(4));
        for (const auto& [block, ids] : order)
            for (uint32_t id = 0; id <= 25; ++id)
                if (std::find(ids.begin(), ids.end(), id) == ids.end()) missing.emplace(block, id);
        return missing;
    };
    const auto first = lost();
    EXPECT_GE(first.size(), 10u);  // about 26 of 104
    EXPECT_LE(first.size(), 45u);
    camera_->SetNextBlockId(1);
    EXPECT_EQ(lost(), first);
    faults().DropRatio(0.25, 43);
    camera_->SetNextBlockId(1);
    EXPECT_NE(lost(), first);
}

TEST_F(StreamFaultTest, ShortTrailerCutsTheLaterRows) {
    faults().ShortTrailer(1, 10);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.count(1), 1u);
    const ReceivedBlock& block = blocks.at(1);
    ASSERT_EQ(block.leaders.size(), 1u);
    ASSERT_EQ(block.trailers.size(), 1u);
    EXPECT_EQ(Be32(block.leaders[0].Body() + 20), 20u);
    EXPECT_EQ(Be32(block.trailers[0].Body() + 4), 10u);
    // 640 bytes: 540 + 100, trailer id 3.
    EXPECT_EQ(block.trailers[0].packetId, 3u);
    ASSERT_EQ(block.data.size(), 2u);
    EXPECT_EQ(block.data.at(2)[0].BodySize(), 100u);
    EXPECT_EQ(block.Payload().size(), 640u);
}

TEST_F(StreamFaultTest, DeviceDiscardFlagAndBlockIdGap) {
    ASSERT_EQ(client_.WriteReg(kGvspConfig, 0x40000000), 0);
    faults().FlagDeviceDiscard(7);
    auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.count(1), 1u);
    ASSERT_EQ(blocks.at(1).leaders.size(), 1u);
    EXPECT_EQ(blocks.at(1).leaders[0].flags, 0);
    faults().SkipBlockIds(5);  // ids 2..6 are never sent
    blocks = ByBlock(Acquire(2));
    ASSERT_EQ(blocks.count(7), 1u);
    ASSERT_EQ(blocks.count(8), 1u);
    EXPECT_EQ(blocks.size(), 2u);
    ASSERT_EQ(blocks.at(7).leaders.size(), 1u);
    EXPECT_EQ(blocks.at(7).leaders[0].flags, 0x0002);
    EXPECT_EQ(blocks.at(8).leaders[0].flags, 0);
}

TEST_F(StreamFaultTest, ErrorStatusAndSilence) {
    faults().SetPacketStatus(1, 2, 0x8001);
    auto packets = Acquire(1);
    ASSERT_EQ(packets.size(), 5u);
    for (const GvspPacket& packet : packets)
        EXPECT_EQ(packet.status, packet.packetId == 2 ? 0x8001 : 0) << packet.packetId;
    faults().SetSilent(true);
    EXPECT_TRUE(Acquire(2).empty());
    EXPECT_EQ(camera_->StreamStats().blocksSent, 3u);  // made, not sent
    Resend(2, 0, 4);
    EXPECT_FALSE(receiver_.Receive(200));
    faults().SetSilent(false);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks.begin()->first, 4u);
}

TEST_F(StreamFaultTest, DuplicateRatioSendsTheSamePacketsTwiceForTheSameSeed) {
    ASSERT_EQ(client_.WriteReg(kHeightReg, 200), 0);  // 24 data packets, trailer 25
    faults().DuplicateRatio(0.2, 42);
    auto twice = [&] {
        std::set<std::pair<uint64_t, uint32_t>> marks;
        const auto order = Order(Acquire(4));
        EXPECT_EQ(order.size(), 4u);
        for (const auto& [block, ids] : order) {
            for (uint32_t id = 0; id <= 25; ++id) {
                const auto n = std::count(ids.begin(), ids.end(), id);
                EXPECT_GE(n, 1) << block << "/" << id;
                EXPECT_LE(n, 2) << block << "/" << id;
                if (n == 2) marks.emplace(block, id);
            }
            for (const auto& [marked, id] : marks) {
                if (marked != block) continue;
                const auto at = std::find(ids.begin(), ids.end(), id);
                // The copies leave in a row.
                EXPECT_TRUE(at + 1 < ids.end() && at[1] == id) << block << "/" << id;
            }
        }
        return marks;
    };
    const auto first = twice();
    EXPECT_GE(first.size(), 8u);  // about 21 of 104
    EXPECT_LE(first.size(), 40u);
    EXPECT_EQ(camera_->StreamStats().packetsSent, 104u + first.size());
    camera_->SetNextBlockId(1);
    EXPECT_EQ(twice(), first);
    faults().DuplicateRatio(0.2, 43);
    camera_->SetNextBlockId(1);
    EXPECT_NE(twice(), first);
}

TEST_F(StreamFaultTest, ReorderRatioSendsEachBlockInItsPlannedOrder) {
    ASSERT_EQ(client_.WriteReg(kHeightReg, 200), 0);
    faults().ReorderRatio(0.2, 5, 3);
    // A held packet may leave after its block's trailer: collect past the last one.
    auto acquire = [&] {
        auto packets = Acquire(4);
        for (auto& late : receiver_.Collect(1, 100)) packets.push_back(std::move(late));
        return Order(packets);
    };
    const auto first = acquire();
    ASSERT_EQ(first.size(), 4u);
    size_t late = 0;
    for (const auto& [block, ids] : first) {
        EXPECT_EQ(ids, faults().Plan(block, 25).Order()) << block;
        std::vector<uint32_t> sorted = ids;
        std::sort(sorted.begin(), sorted.end());
        for (uint32_t id = 0; id <= 25; ++id) ASSERT_EQ(sorted[id], id) << block;
        for (size_t i = 0; i < ids.size(); ++i) late += ids[i] < i;  // passed by a later id
    }
    EXPECT_GT(late, 0u);
    camera_->SetNextBlockId(1);
    EXPECT_EQ(acquire(), first);
    faults().ReorderRatio(0.2, 6, 3);
    camera_->SetNextBlockId(1);
    EXPECT_NE(acquire(), first);
}

TEST_F(StreamFaultTest, SparedTotalLossStillShowsEveryBlock) {
    faults().DropRatio(1.0, 3);
    faults().SpareOnePacketPerBlock();
    const auto order = Order(Acquire(5));
    ASSERT_EQ(order.size(), 5u);
    uint64_t block = 1;
    for (const auto& [id, ids] : order) {
        EXPECT_EQ(id, block++);
        EXPECT_EQ(ids, (std::vector<uint32_t>{1}));
    }
    EXPECT_EQ(camera_->StreamStats().blocksSent, 5u);
    Resend(3, 0, 4);  // resends get through
    const auto resent = Order(receiver_.Collect(1, 300));
    EXPECT_EQ(resent.at(3), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace SimTest
