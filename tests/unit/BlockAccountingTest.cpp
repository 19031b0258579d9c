// Every block a camera sends is delivered, dropped for want of a free slot, or
// counted lost, exactly once, in the block-ID space the camera uses; and blocks
// reach the deliver list in block order.
#include "AssemblyFixture.h"

using namespace Vantor;
using namespace AssemblyTest;

namespace {

class Accounting : public Assembly {
protected:
    uint32_t Lost() const { return state.statistics.lostFrames; }
    uint32_t Underrun() const { return state.statistics.underrunFrames; }
};

}  // namespace

TEST_F(Accounting, SixteenBitGapsCountAcrossTheWrapToOne) {
    Configure(4, 64, 8);
    SendBlock(0xFFFE);
    SendBlock(2);  // 0xFFFF and 1 were lost
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{0xFFFE, 2}));
    EXPECT_EQ(Lost(), 2u);
    EXPECT_EQ(state.statistics.missingFrames, 2u);
    EXPECT_EQ(state.statistics.lostPackets, 2u * 4) << "two whole blocks of packets";
}

TEST_F(Accounting, ExtendedIdsNeverWrap) {
    Configure(4, 64, 8);
    auto send = [&](uint64_t id) {
        Feed(Packet(1, id, 0, ImageLeader(64, 4), true));
        for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, id, p, Payload(id, p), true));
        Feed(Packet(2, id, 5, ImageTrailer(4), true));
    };
    send(0xFFFE);
    send(0x10002);  // 0xFFFF, 0x10000 and 0x10001 lost; no ID is skipped
    EXPECT_EQ(Lost(), 3u);
}

TEST_F(Accounting, ABlockLateAfterItsSuccessorIsNeitherDeliveredNorCountedTwice) {
    Configure(4, 64, 8);
    SendBlock(5);
    SendBlock(7);
    SendBlock(6);  // all of it after block 7 went out
    SendBlock(8);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{5, 7, 8})) << "frame IDs only rise";
    EXPECT_EQ(Lost(), 1u);
    EXPECT_EQ(state.statistics.missingFrames, 1u);
}

TEST_F(Accounting, ABlockThatLostLeaderAndTrailerGoesOutBeforeItsSuccessor) {
    Configure(4, 64, 8);
    SendBlock(1);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 2, p, Payload(2, p)));
    SendBlock(3);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1})) << "block 3 waits for block 2";
    receiver.FlushOnSilence();
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{2, 3}));
    EXPECT_EQ(Lost(), 0u);
}

TEST_F(Accounting, BlocksWithoutAFreeSlotAreUnderrunsNotLosses) {
    Configure(4, 64, 1);
    SendBlock(1);
    SendBlock(2);                          // the only slot waits in the deliver list
    Feed(Packet(3, 3, 1, Payload(3, 1)));  // block 3 without its leader
    Feed(Packet(3, 3, 2, Payload(3, 2)));
    Feed(Packet(1, 3, 0, ImageLeader(64, 4)));  // its leader comes late
    EXPECT_EQ(Underrun(), 2u) << "blocks 2 and 3, each once";
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1}));
    SendBlock(4);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{4}));
    EXPECT_EQ(Lost(), 0u) << "2 and 3 were dropped, not lost";
    EXPECT_EQ(Underrun(), 2u);
    EXPECT_EQ(state.statistics.framesStarted, 2u);
}

TEST_F(Accounting, AnUnderrunBehindAnOpenBlockIsCountedOnce) {
    Configure(4, 64, 2);
    SendBlock(1, {2});  // waits as the previous block for packet 2
    SendBlock(2);       // takes the second slot and waits behind block 1
    SendBlock(3);       // no slot
    Feed(Packet(3, 1, 2, Payload(1, 2)));
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1, 2}));
    SendBlock(4);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{4}));
    EXPECT_EQ(Underrun(), 1u);
    EXPECT_EQ(Lost(), 0u);
}

TEST_F(Accounting, TheFirstBlockOfAnAcquisitionMayLoseItsLeader) {
    Configure(4, 64, 8, false);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 24, p, Payload(24, p)));
    Feed(Packet(2, 24, 5, ImageTrailer(4)));
    SendBlock(25);
    receiver.FlushOnSilence();
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{24, 25}))
        << "block 24 is seen, if incomplete";
    EXPECT_EQ(state.statistics.framesStarted, 2u);
}

TEST_F(Accounting, ARepeatedLeaderOfBlockOneIsNotACameraStartingOver) {
    Configure(4, 64, 8, false);
    SendBlock(1);
    SendBlock(1);  // every packet of it again, at once
    SendBlock(2);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1, 2})) << "block 1 once";
    EXPECT_EQ(Lost(), 0u);
}
