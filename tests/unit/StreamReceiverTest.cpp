// Block assembly fed with GVSP datagrams built here: complete and incomplete
// blocks, resend requests and their budget, the early and previous blocks,
// short trailers, extended IDs, the block-ID check, and hostile datagrams.

#include "AssemblyFixture.h"

using namespace Vantor;
using namespace AssemblyTest;

TEST_F(Assembly, CompleteBlockIsDeliveredWithItsDataAndGeometry) {
    SendBlock(1);
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->blockId, 1u);
    EXPECT_EQ(block->sizeX, 64u);
    EXPECT_EQ(block->sizeY, 4u);
    EXPECT_EQ(block->pixelFormat, 0x01080001u);
    for (uint32_t p = 1; p <= 4; ++p) EXPECT_EQ(block->data[(p - 1) * 64], 16 + p);
    EXPECT_TRUE(resends.empty());
    EXPECT_EQ(state.statistics.frameCount, 1u);
    EXPECT_EQ(state.assembly.blockIdMode, BlockIdMode::Short);
}

TEST_F(Assembly, AGapAsksForTheMissingPacketAndTheResentOneCompletesTheBlock) {
    SendBlock(1, {2});
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 2u, 2u, false));
    EXPECT_EQ(Delivered(), nullptr) << "waits as the previous block";
    Feed(Packet(3, 1, 2, Payload(1, 2)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->data[64], 16 + 2);
}

TEST_F(Assembly, ResendsStayWithinTheBudget) {
    Configure(32, 64, 4, true, 10);  // 32 packets per block
    Feed(Packet(1, 1, 0, ImageLeader(64, 32)));
    Feed(Packet(3, 1, 1, Payload(1, 1)));
    Feed(Packet(3, 1, 17, Payload(1, 17)));  // 15 lost
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 2u, 11u, false));
    for (uint32_t p = 18; p <= 32; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 33, ImageTrailer(32)));
    EXPECT_EQ(resends.size(), 1u) << "the budget of 10 is spent";
}

TEST_F(Assembly, NextTrailerDeliversTheWaitingBlockIncomplete) {
    SendBlock(1, {3});
    SendBlock(2);
    GevBufferDescriptor* first = Delivered();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->blockId, 1u);
    EXPECT_EQ(first->status, kBlockIncomplete);
    EXPECT_EQ(first->missingPackets, 1u);
    GevBufferDescriptor* second = Delivered();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->status, kBlockComplete);
    EXPECT_EQ(state.statistics.lostPackets, 1u);
}

TEST_F(Assembly, SilenceDeliversAHalfFilledBlock) {
    SendBlock(1, {3, 4}, false);
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockIncomplete);
    EXPECT_EQ(block->missingPackets, 2u);
}

TEST_F(Assembly, PayloadBeforeItsLeaderOpensTheEarlyBlock) {
    SendBlock(1);
    ASSERT_NE(Delivered(), nullptr);
    Feed(Packet(3, 2, 1, Payload(2, 1)));
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));
    for (uint32_t p = 2; p <= 4; ++p) Feed(Packet(3, 2, p, Payload(2, p)));
    Feed(Packet(2, 2, 5, ImageTrailer(4)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->blockId, 2u);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->data[0], 2 * 16 + 1);
}

TEST_F(Assembly, ShortTrailerCompletesTheBlockWithoutTheCutRows) {
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
    Feed(Packet(3, 1, 1, Payload(1, 1)));
    Feed(Packet(3, 1, 2, Payload(1, 2)));
    Feed(Packet(2, 1, 5, ImageTrailer(2)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->trailerSizeY, 2u);
}

// The buffers may be larger than the camera's images: the leader's geometry, not the
// buffer, says how many packets a block carries.
TEST_F(Assembly, AnImageSmallerThanTheBufferIsCompleteWithItsOwnPackets) {
    Configure(8, 64, 4);  // buffers of 512 bytes: 8 packets
    struct Case {
        uint32_t width, height, pixelFormat;
        uint16_t paddingX;
        uint32_t packets;
    };
    // 64x4 Mono8; 60x4 Mono8 with 4 bytes of line padding; 80x4 Mono12Packed (120-byte lines).
    const Case cases[] = {
        {64, 4, 0x01080001, 0, 4}, {60, 4, 0x01080001, 4, 4}, {80, 4, 0x010C0006, 0, 8}};
    uint64_t id = 1;
    for (const Case& c : cases) {
        Feed(Packet(1, id, 0, ImageLeader(c.width, c.height, 1, c.pixelFormat, c.paddingX)));
        for (uint32_t p = 1; p <= c.packets; ++p) Feed(Packet(3, id, p, Payload(id, p)));
        Feed(Packet(2, id, c.packets + 1, ImageTrailer(c.height)));
        GevBufferDescriptor* block = Delivered();
        ASSERT_NE(block, nullptr) << "block " << id;
        EXPECT_EQ(block->status, kBlockComplete) << "block " << id;
        EXPECT_EQ(block->missingPackets, 0u);
        EXPECT_EQ(block->paddingX, c.paddingX) << "the padding is reported as sent";
        state.queued.Append(block);
        ++id;
    }
    EXPECT_TRUE(resends.empty()) << "no packet beyond the image is asked for";
    EXPECT_EQ(state.statistics.lostPackets, 0u);
}

TEST_F(Assembly, ALossInASmallerImageIsAskedForWithinItsPackets) {
    Configure(8, 64, 4);
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
    for (uint32_t p : {1u, 2u, 4u}) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 5, ImageTrailer(4)));
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(std::get<1>(resends[0]), 3u);
    EXPECT_EQ(std::get<2>(resends[0]), 3u) << "packets 5 to 8 do not exist";
    EXPECT_EQ(Delivered(), nullptr) << "packet 3 is still due";
    Feed(Packet(3, 1, 3, Payload(1, 3)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
}

TEST_F(Assembly, AnImageLargerThanTheBufferIsIncomplete) {
    Feed(Packet(1, 1, 0, ImageLeader(64, 8)));  // 512 bytes into buffers of 256
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 5, ImageTrailer(8)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockIncomplete) << "its second half had no room";
}

TEST_F(Assembly, ALeaderAndAShortTrailerCutThePacketsOnce) {
    Configure(8, 64, 4);
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));  // 4 of the buffer's 8 packets
    for (uint32_t p = 1; p <= 2; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 3, ImageTrailer(2)));  // then only 2 rows were sent
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->missingPackets, 0u);
    state.queued.Append(block);
    // Same cut when the short trailer leaves one of the remaining packets missing.
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));
    Feed(Packet(3, 2, 1, Payload(2, 1)));
    Feed(Packet(2, 2, 4, ImageTrailer(3)));
    EXPECT_EQ(Delivered(), nullptr) << "rows 2 and 3 are still due";
}

TEST_F(Assembly, ATrailerWithoutSizeYKeepsTheLeadersHeight) {
    for (const Bytes& trailer : {ImageTrailer(0), Bytes{0, 0, 0, 1}}) {
        const uint64_t id = trailer.size() == 4 ? 2 : 1;
        Feed(Packet(1, id, 0, ImageLeader(64, 4)));
        for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, id, p, Payload(id, p)));
        Feed(Packet(2, id, 5, trailer));
        GevBufferDescriptor* block = Delivered();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->status, kBlockComplete);
        EXPECT_EQ(block->trailerSizeY, 4u) << "nothing was cut";
        state.queued.Append(block);
    }
}

TEST_F(Assembly, LateAnswersToALostLeaderStartNoBlockAndMoveNothingBack) {
    Configure(4, 64, 8);  // a slot for every block
    auto withoutLeader = [&](uint64_t id) {
        for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, id, p, Payload(id, p)));
        Feed(Packet(2, id, 5, ImageTrailer(4)));
    };
    SendBlock(1);
    withoutLeader(2);  // its leader is asked for at the trailer and at leader 3
    Feed(Packet(1, 3, 0, ImageLeader(64, 4)));
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));  // both answers come back
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 3, p, Payload(3, p)));
    Feed(Packet(2, 3, 5, ImageTrailer(4)));
    withoutLeader(4);  // found by its place after block 3
    SendBlock(5);
    SendBlock(6);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(Assembly, ALeaderAnsweredAfterItsSuccessorLosesNoLaterBlock) {
    Configure(4, 64, 8);
    SendBlock(1);
    for (uint32_t p = 1; p <= 4; ++p)
        Feed(Packet(3, 2, p, Payload(2, p)));  // no leader, no trailer
    SendBlock(3);
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));  // the answer, late
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 4, p, Payload(4, p)));
    Feed(Packet(2, 4, 5, ImageTrailer(4)));
    SendBlock(5);
    std::vector<uint64_t> ids = DrainIds(state);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<uint64_t>{1, 2, 3, 4, 5})) << "each block once, none lost";
}

TEST_F(Assembly, TwoBlocksInARowThatLoseTheirLeadersAreBothKept) {
    Configure(4, 64, 8);
    SendBlock(1);
    for (uint64_t id : {2, 3}) {
        for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, id, p, Payload(id, p)));
        Feed(Packet(2, id, 5, ImageTrailer(4)));
    }
    SendBlock(4);
    SendBlock(5);
    std::vector<uint64_t> ids = DrainIds(state);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<uint64_t>{1, 2, 3, 4, 5}));
}

TEST_F(Assembly, ACameraStartingItsIdsOverIsFollowedOnceTheAnswersAreDue) {
    Configure(4, 64, 8);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));  // leader 1 lost
    Feed(Packet(2, 1, 5, ImageTrailer(4)));
    SendBlock(2);
    EXPECT_EQ(DrainIds(state), (std::vector<uint64_t>{1, 2}));
    // The camera starts over at 1, well after any answer could come.
    now += AssemblyState::kAskedLeaderWindowMs;
    SendBlock(1);
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr) << "the new block 1 is not taken for a late answer";
    EXPECT_EQ(block->blockId, 1u);
    EXPECT_EQ(block->status, kBlockComplete);
}

TEST_F(Assembly, MissingBlocksAreCountedAndSixteenBitIdsWrapToOne) {
    SendBlock(5);
    SendBlock(8);
    EXPECT_EQ(state.statistics.frameCount, 4u);
    EXPECT_EQ(state.statistics.missingFrames, 2u);
    EXPECT_EQ(state.statistics.lostPackets, 8u);
    Delivered();
    Delivered();
    Configure(4, 64, 4);  // a new acquisition: 0xFFFF is not ten blocks behind 9
    SendBlock(0xFFFF);
    Delivered();
    EXPECT_EQ(state.assembly.nextBlockId, 1u);
}

TEST_F(Assembly, ExtendedIdsCarryWideBlockIdsAndResendsSayExtended) {
    Feed(Packet(1, 0x100000000ull, 0, ImageLeader(64, 4), true));
    Feed(Packet(3, 0x100000000ull, 1, Payload(1, 1), true));
    Feed(Packet(3, 0x100000000ull, 3, Payload(1, 3), true));
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(0x100000000ull, 2u, 2u, true));
    Feed(Packet(3, 0x100000000ull, 2, Payload(1, 2), true, 0x0001));
    Feed(Packet(3, 0x100000000ull, 4, Payload(1, 4), true));
    Feed(Packet(2, 0x100000000ull, 5, ImageTrailer(4), true));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->blockId, 0x100000000ull);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->resendReceived, 1u);
    EXPECT_EQ(state.assembly.blockIdMode, BlockIdMode::Extended);
}

TEST_F(Assembly, HostileDatagramsAreDroppedWithoutTouchingMemory) {
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
    Feed(Packet(3, 1, 99, Payload(1, 1)));                   // beyond the block
    Feed(Packet(3, 1, 0, Payload(1, 1)));                    // the leader's ID
    Feed(Packet(9, 1, 1, Payload(1, 1)));                    // unknown format
    Feed(Packet(3, 1, 1, Payload(1, 1), false, 0, 0x8001));  // error status
    Feed(Packet(3, 1, 4, Bytes(4000, 0xEE)));                // far too long
    Feed(Packet(1, 2, 0, Bytes(3)));                         // truncated leader
    Bytes runt = {0x00, 0x00};
    Feed(runt);
    Feed(Packet(3, 1, 1, Payload(1, 1), true));  // the other ID mode
    EXPECT_EQ(state.assembly.packetLargerSeen, false) << "a new leader clears the latch";
    receiver.FlushOnSilence();
    GevBufferDescriptor* first = Delivered();
    ASSERT_NE(first, nullptr);
    if (first->blockId != 1) first = Delivered();  // block 2's leader came last
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->blockId, 1u);
    EXPECT_EQ(first->data[3 * 64], 0xEE) << "the long packet was cut to its slot";
    EXPECT_EQ(first->data[3 * 64 + 63], 0xEE);
}

TEST_F(Assembly, NoFreeSlotDropsTheBlockAndLogsNoCrash) {
    Configure(4, 64, 1);
    SendBlock(1);
    SendBlock(2);  // the only slot is in the deliver list
    EXPECT_EQ(state.delivered.Count(), 1u);
}

TEST_F(Assembly, ALostLeaderIsAskedForAndItsGeometryCompletesTheBlock) {
    SendBlock(1);
    ASSERT_NE(Delivered(), nullptr);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 2, p, Payload(2, p)));
    Feed(Packet(2, 2, 5, ImageTrailer(4)));
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{2}, 0u, 0u, false));
    EXPECT_EQ(Delivered(), nullptr) << "waits for its leader";
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->sizeX, 64u);
}

TEST_F(Assembly, WithoutResendABlockThatLostItsLeaderIsIncomplete) {
    Configure(4, 64, 4, false);
    SendBlock(1);
    ASSERT_NE(Delivered(), nullptr);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 2, p, Payload(2, p)));
    Feed(Packet(2, 2, 5, ImageTrailer(4)));
    EXPECT_EQ(Delivered(), nullptr) << "its leader may only have been overtaken";
    SendBlock(3);
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->blockId, 2u);
    EXPECT_EQ(block->status, kBlockIncomplete) << "no geometry: the consumer must be told";
}

TEST_F(Assembly, ALeaderOvertakenByItsBlockStillCompletesIt) {
    Configure(4, 64, 4, false);
    SendBlock(1);
    ASSERT_NE(Delivered(), nullptr);
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 2, p, Payload(2, p)));
    Feed(Packet(2, 2, 5, ImageTrailer(4)));
    Feed(Packet(1, 2, 0, ImageLeader(64, 4)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
}

TEST_F(Assembly, TheBlockAfterFFFFMayStartBeforeItsLeader) {
    SendBlock(0xFFFF);
    ASSERT_NE(Delivered(), nullptr);
    Feed(Packet(3, 1, 1, Payload(1, 1)));  // block 1's leader is late
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
    for (uint32_t p = 2; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 5, ImageTrailer(4)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->blockId, 1u);
    EXPECT_EQ(block->status, kBlockComplete);
}

TEST_F(Assembly, AnAnswerToAResendDoesNotLookLikeANewGap) {
    Configure(32, 64, 4, true, 10);
    Feed(Packet(1, 1, 0, ImageLeader(64, 32)));
    Feed(Packet(3, 1, 1, Payload(1, 1)));
    Feed(Packet(3, 1, 3, Payload(1, 3)));  // 2 lost: asked for
    ASSERT_EQ(resends.size(), 1u);
    Feed(Packet(3, 1, 2, Payload(1, 2)));  // its answer, in the middle of the block
    for (uint32_t p = 4; p <= 32; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 33, ImageTrailer(32)));
    EXPECT_EQ(resends.size(), 1u) << "no packet was asked for twice";
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->resendIssued, 1u);
}

TEST_F(Assembly, AnEarlyBlockWhoseLeaderNeverComesIsNotLost) {
    SendBlock(1);
    ASSERT_NE(Delivered(), nullptr);
    for (uint32_t p = 1; p <= 4; ++p)
        Feed(Packet(3, 2, p, Payload(2, p)));  // no leader, no trailer
    SendBlock(3);
    EXPECT_EQ(resends.size(), 1u) << "block 2's leader asked for";
    SendBlock(4);
    std::vector<uint64_t> delivered;
    while (GevBufferDescriptor* block = Delivered()) {
        delivered.push_back(block->blockId);
        if (block->blockId == 2) {
            EXPECT_EQ(block->status, kBlockIncomplete);
        }
    }
    EXPECT_NE(std::find(delivered.begin(), delivered.end(), 2u), delivered.end());
}
