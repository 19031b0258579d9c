// Block assembly of what a camera may send besides a plain image that fills the
// buffer: variable-size payloads that end early, payloads with per-packet headers
// that need more packets, short data packets, and geometries that would not fit.
#include "AssemblyFixture.h"

using namespace Vantor;
using namespace AssemblyTest;

namespace {

// A packet of `size` data bytes, each byte its offset in the block plus `block`.
Bytes Counting(uint64_t block, uint64_t offset, size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(offset + i + block);
    return data;
}

class PayloadAssembly : public Assembly {
protected:
    // Sends `bytes` of a variable payload in packets of the packet data size, then
    // its trailer, whose packet ID tells how many data packets there were.
    void SendVariable(uint64_t block, uint16_t type, uint64_t bytes, bool withLeader = true) {
        const uint32_t size = state.settings.packetDataSize;
        if (withLeader) Feed(Packet(1, block, 0, DataLeader(type, bytes)));
        uint32_t packet = 1;
        for (uint64_t offset = 0; offset < bytes; offset += size, ++packet)
            Feed(Packet(3, block, packet,
                        Counting(block, offset, std::min<uint64_t>(size, bytes - offset))));
        Feed(Packet(2, block, packet, TypedTrailer(type, static_cast<uint32_t>(bytes))));
    }
    bool HoldsCounting(const GevBufferDescriptor& block, uint64_t bytes) {
        for (uint64_t i = 0; i < bytes; ++i)
            if (block.data[i] != static_cast<uint8_t>(i + block.blockId)) return false;
        return true;
    }
};

}  // namespace

TEST_F(PayloadAssembly, VariablePayloadsShorterThanTheBufferCompleteAtTheirTrailer) {
    // Raw data and chunk data of 100 bytes in buffers of 256: two packets each.
    SendVariable(1, Gvsp::kRawData, 100);
    SendVariable(2, Gvsp::kChunk, 100);
    for (uint64_t id : {1u, 2u}) {
        GevBufferDescriptor* block = Delivered();
        ASSERT_NE(block, nullptr) << "block " << id << " is due at its trailer";
        EXPECT_EQ(block->blockId, id);
        EXPECT_EQ(block->status, kBlockComplete) << "block " << id;
        EXPECT_EQ(block->missingPackets, 0u);
        EXPECT_TRUE(HoldsCounting(*block, 100));
        state.queued.Append(block);
    }
    EXPECT_TRUE(resends.empty()) << "packets 3 and 4 never existed";
}

TEST_F(PayloadAssembly, AnImageWithChunksSmallerThanTheBufferCompletesAtItsTrailer) {
    Feed(Packet(1, 1, 0, [] {
        Bytes leader = ImageLeader(64, 2);
        leader[3] = 0x01;  // payload type 0x4001
        leader[2] = 0x40;
        return leader;
    }()));
    Feed(Packet(3, 1, 1, Counting(1, 0, 64)));
    Feed(Packet(3, 1, 2, Counting(1, 64, 64)));
    Feed(Packet(3, 1, 3, Counting(1, 128, 24)));  // the chunks after the image
    Feed(Packet(2, 1, 4, TypedTrailer(Gvsp::kImageWithChunk, 2, 152, 7)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->chunkDataLength, 152u);
    EXPECT_TRUE(HoldsCounting(*block, 152));
    EXPECT_TRUE(resends.empty());
}

TEST_F(PayloadAssembly, AVariablePayloadLosesItsLastPacketAndAsksOnlyForIt) {
    Feed(Packet(1, 1, 0, DataLeader(Gvsp::kRawData, 150)));
    Feed(Packet(3, 1, 1, Counting(1, 0, 64)));
    Feed(Packet(3, 1, 2, Counting(1, 64, 64)));
    Feed(Packet(2, 1, 4, TypedTrailer(Gvsp::kRawData)));  // packet 3 (22 bytes) lost
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 3u, 3u, false));
    Feed(Packet(3, 1, 3, Counting(1, 128, 22)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_TRUE(HoldsCounting(*block, 150));
}

TEST_F(PayloadAssembly, AShortDataPacketIsMissingDataNotAReceivedPacket) {
    for (bool resend : {true, false}) {
        Configure(4, 64, 4, resend);
        Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
        Feed(Packet(3, 1, 1, Payload(1, 1)));
        Feed(Packet(3, 1, 2, Bytes(10, 0x55)));  // 10 of its 64 bytes
        Feed(Packet(3, 1, 3, Payload(1, 3)));
        Feed(Packet(3, 1, 4, Payload(1, 4)));
        Feed(Packet(2, 1, 5, ImageTrailer(4)));
        if (resend) {
            ASSERT_EQ(resends.size(), 1u);
            EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 2u, 2u, false));
            Feed(Packet(3, 1, 2, Payload(1, 2)));
        } else {
            receiver.FlushOnSilence();
        }
        GevBufferDescriptor* block = Delivered();
        ASSERT_NE(block, nullptr);
        if (resend) {
            EXPECT_EQ(block->status, kBlockComplete);
            EXPECT_EQ(block->data[64 + 63], 16 + 2) << "the whole packet came again";
        } else {
            EXPECT_EQ(block->status, kBlockIncomplete) << "54 bytes of packet 2 are missing";
        }
        resends.clear();
    }
}

TEST_F(PayloadAssembly, ATrailerTallerThanTheLeaderDoesNotGrowTheImage) {
    Feed(Packet(1, 1, 0, ImageLeader(64, 4)));
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 5, ImageTrailer(1000000)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->trailerSizeY, 4u) << "a trailer only ever cuts rows";
}

TEST_F(PayloadAssembly, AGeometryWhoseSizeWrapsIsLargerThanTheBuffer) {
    // 2^31 pixels of 32 bits by 2^31 lines plus 256 bytes: 2^64 + 256 bytes, which
    // is 256 (the buffer's size) when the product wraps.
    Bytes leader = ImageLeader(0x80000000u, 0x80000000u, 1, 0x02200016 /* RGBa8 */);
    leader[34] = 0x01;  // padding Y = 256
    leader[35] = 0x00;
    Feed(Packet(1, 1, 0, leader));
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(2, 1, 5, ImageTrailer(0x80000000u)));
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockIncomplete) << "the image does not fit";
    EXPECT_TRUE(block->overflow);
}

TEST_F(PayloadAssembly, PacketsBeyondTheBufferMakeTheBlockIncomplete) {
    // An image with chunks of 320 bytes into buffers of 256: packet 5 has no room.
    Bytes leader = ImageLeader(64, 4);
    leader[2] = 0x40;
    Feed(Packet(1, 1, 0, leader));
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 1, p, Payload(1, p)));
    Feed(Packet(3, 1, 5, Payload(1, 5)));
    Feed(Packet(2, 1, 6, TypedTrailer(Gvsp::kImageWithChunk, 4, 320, 1)));
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockIncomplete);
    EXPECT_TRUE(block->overflow);
}

// Multi-part and GenDC data packets carry 8 and 16 header bytes: a payload that
// fills the buffer needs more packets than generic ones would.
TEST_F(PayloadAssembly, MultiPartPartsArePlacedWholeByTheirLeadersPartTable) {
    // Two parts of 128 bytes in a buffer of 256: 56 data bytes a packet, three
    // packets a part, six in all where generic packets would need four.
    Bytes leader = DataLeader(Gvsp::kMultiPart, 0);
    leader.resize(12);
    for (uint64_t length : {128u, 128u}) {
        Bytes part(48, 0);
        for (int i = 0; i < 6; ++i) part[2 + i] = static_cast<uint8_t>(length >> (8 * (5 - i)));
        leader.insert(leader.end(), part.begin(), part.end());
    }
    Feed(Packet(1, 1, 0, leader));
    uint32_t packet = 1;
    for (uint8_t partId : {0, 1}) {
        for (uint64_t offset = 0; offset < 128; offset += 56, ++packet) {
            Bytes body;
            Put(body, partId, 1);
            Put(body, 0, 1);
            Put(body, offset, 6);
            const Bytes data =
                Counting(1, partId * 128 + offset, std::min<uint64_t>(56, 128 - offset));
            body.insert(body.end(), data.begin(), data.end());
            Feed(Packet(7, 1, packet, body));
        }
    }
    Feed(Packet(2, 1, packet, TypedTrailer(Gvsp::kMultiPart)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_TRUE(HoldsCounting(*block, 256)) << "both parts whole, the second after the first";
    EXPECT_TRUE(resends.empty());
}

TEST_F(PayloadAssembly, GenDCDataIsPlacedWholeByItsOwnOffsets) {
    // 256 bytes of container in 48-byte pieces: six packets.
    Feed(Packet(1, 1, 0, DataLeader(Gvsp::kGenDC, 256)));
    uint32_t packet = 1;
    for (uint64_t offset = 0; offset < 256; offset += 48, ++packet) {
        const uint64_t size = std::min<uint64_t>(48, 256 - offset);
        Bytes body;
        Put(body, size, 4);
        Put(body, offset, 8);
        Put(body, 0, 4);
        const Bytes data = Counting(1, offset, size);
        body.insert(body.end(), data.begin(), data.end());
        Feed(Packet(8, 1, packet, body));
    }
    Feed(Packet(2, 1, packet, TypedTrailer(Gvsp::kGenDC)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_EQ(block->missingPackets, 0u);
    EXPECT_TRUE(HoldsCounting(*block, 256)) << "the tail is not lost";
    EXPECT_FALSE(block->overflow);
}

TEST_F(PayloadAssembly, ATrailerBeforeTheRestOfItsBlockStartsIt) {
    SendVariable(1, Gvsp::kRawData, 100);
    ASSERT_NE(Delivered(), nullptr);
    // Block 2 arrives back to front: trailer, data, leader.
    Feed(Packet(2, 2, 3, TypedTrailer(Gvsp::kRawData)));
    Feed(Packet(3, 2, 2, Counting(2, 64, 36)));
    Feed(Packet(3, 2, 1, Counting(2, 0, 64)));
    EXPECT_TRUE(resends.empty() || std::get<1>(resends[0]) == 0) << "its packets were on their way";
    Feed(Packet(1, 2, 0, DataLeader(Gvsp::kRawData, 100)));
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr) << "whole with its leader";
    EXPECT_EQ(block->blockId, 2u);
    EXPECT_EQ(block->status, kBlockComplete);
    EXPECT_TRUE(HoldsCounting(*block, 100));
}

TEST_F(PayloadAssembly, GenDCWithEveryByteIsWholeWithoutItsTrailer) {
    Feed(Packet(1, 1, 0, DataLeader(Gvsp::kGenDC, 96)));
    for (uint64_t offset : {0u, 48u}) {
        Bytes body;
        Put(body, 48, 4);
        Put(body, offset, 8);
        Put(body, 0, 4);
        const Bytes data = Counting(1, offset, 48);
        body.insert(body.end(), data.begin(), data.end());
        Feed(Packet(8, 1, 1 + static_cast<uint32_t>(offset / 48), body));
    }
    receiver.FlushOnSilence();  // the trailer was lost
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete) << "all 96 bytes the leader announced are here";
    EXPECT_TRUE(HoldsCounting(*block, 96));
}

TEST_F(PayloadAssembly, ABlockWithoutLeaderAndTrailerIsOfTheStreamsType) {
    Configure(4, 64, 4, false);
    SendVariable(1, Gvsp::kRawData, 256);
    state.queued.Append(Delivered());
    for (uint32_t p = 1; p <= 4; ++p) Feed(Packet(3, 2, p, Counting(2, (p - 1) * 64, 64)));
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockIncomplete);
    EXPECT_EQ(block->payloadType, Gvsp::kRawData) << "what the stream sends, as far as known";
}
