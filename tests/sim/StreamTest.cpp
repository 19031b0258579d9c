// GVSP from the simulator as a host sees it: leader, data and trailer layouts in both
// id modes, packet sizes, the test pattern, chunk and raw payloads, the extra-packet
// mode, block id wrap, acquisition modes and rate, PACKETRESEND and the test packet.
#include <chrono>
#include <thread>

#include "StreamTestBase.h"

namespace SimTest {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void ExpectMono8(const Bytes& payload, uint32_t width, uint32_t height, uint64_t block) {
    ASSERT_GE(payload.size(), size_t{width} * height);
    size_t wrong = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            wrong += payload[y * width + x] != static_cast<uint8_t>(x + y + block);
    EXPECT_EQ(wrong, 0u) << "block " << block;
}

class StreamTest : public StreamTestBase {};

TEST_F(StreamTest, ImageBlocksWith16BitIds) {
    uint32_t sourcePort = 0;
    ASSERT_EQ(client_.ReadReg(kScsp0, &sourcePort), 0);
    const auto blocks = ByBlock(Acquire(3));
    ASSERT_EQ(blocks.size(), 3u);
    uint64_t expectedId = 1, lastTimestamp = 0;
    for (const auto& [id, block] : blocks) {
        EXPECT_EQ(id, expectedId++);
        ASSERT_EQ(block.leaders.size(), 1u);
        ASSERT_EQ(block.trailers.size(), 1u);
        const GvspPacket& leader = block.leaders[0];
        EXPECT_FALSE(leader.extended);
        EXPECT_EQ(leader.fromPort, sourcePort);
        EXPECT_EQ(leader.bytes[4], 0x01);  // EI 0, format leader
        EXPECT_EQ(leader.packetId, 0u);
        EXPECT_EQ(leader.status, 0);
        ASSERT_EQ(leader.bytes.size(), 8u + 36u);
        const uint8_t* l = leader.Body();
        EXPECT_EQ(Be16(l + 2), 0x0001);
        const uint64_t timestamp = Be64(l + 4);
        EXPECT_GT(timestamp, lastTimestamp);
        lastTimestamp = timestamp;
        EXPECT_EQ(Be32(l + 12), kMono8);
        EXPECT_EQ(Be32(l + 16), 64u);
        EXPECT_EQ(Be32(l + 20), 20u);
        EXPECT_EQ(Be32(l + 24), 0u);
        EXPECT_EQ(Be32(l + 28), 0u);
        EXPECT_EQ(Be16(l + 32), 0);
        EXPECT_EQ(Be16(l + 34), 0);
        // 576 - 20 - 8 - 8 = 540 payload bytes per packet: 540 + 540 + 200.
        ASSERT_EQ(block.data.size(), 3u);
        EXPECT_EQ(block.data.at(1)[0].bytes.size(), 548u);
        EXPECT_EQ(block.data.at(2)[0].bytes.size(), 548u);
        EXPECT_EQ(block.data.at(3)[0].bytes.size(), 208u);
        EXPECT_EQ(block.data.at(1)[0].bytes[4], 0x03);
        ExpectMono8(block.Payload(), 64, 20, id);
        const GvspPacket& trailer = block.trailers[0];
        EXPECT_EQ(trailer.packetId, 4u);
        ASSERT_EQ(trailer.bytes.size(), 8u + 8u);
        EXPECT_EQ(Be16(trailer.Body() + 2), 0x0001);
        EXPECT_EQ(Be32(trailer.Body() + 4), 20u);
    }
    uint32_t active = 1;
    for (int i = 0; i < 50 && active; ++i) client_.ReadReg(kAcquisitionActiveReg, &active);
    EXPECT_EQ(active, 0u);  // MultiFrame ended by itself
    const auto stats = camera_->StreamStats();
    EXPECT_EQ(stats.blocksSent, 3u);
    EXPECT_EQ(stats.packetsSent, 15u);
    EXPECT_EQ(stats.lastBlockId, 3u);
}

class PaddedStreamTest : public StreamTestBase {
    GevSim::CameraConfig Configure() override {
        auto config = StreamConfig();
        config.paddingX = 4;
        return config;
    }
};

TEST_F(PaddedStreamTest, ExtendedIdsMono16WithPadding) {
    ASSERT_EQ(client_.WriteReg(kGvspConfig, 0x40000000), 0);
    ASSERT_EQ(client_.WriteReg(kPixelFormatReg, kMono16), 0);
    uint32_t payloadSize = 0;
    ASSERT_EQ(client_.ReadReg(kPayloadSizeReg, &payloadSize), 0);
    EXPECT_EQ(payloadSize, 2640u);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.size(), 1u);
    const ReceivedBlock& block = blocks.begin()->second;
    ASSERT_EQ(block.leaders.size(), 1u);
    const GvspPacket& leader = block.leaders[0];
    EXPECT_TRUE(leader.extended);
    EXPECT_EQ(leader.bytes[4], 0x81);
    EXPECT_EQ(leader.bytes[5] | leader.bytes[6] | leader.bytes[7], 0);
    EXPECT_EQ(Be64(&leader.bytes[8]), 1u);
    EXPECT_EQ(Be32(leader.Body() + 12), kMono16);
    EXPECT_EQ(Be16(leader.Body() + 32), 4);
    // Lines of 64 * 2 + 4 = 132 bytes: 2640 bytes in 5 packets of 576 - 28 - 20 = 528.
    ASSERT_EQ(block.data.size(), 5u);
    for (const auto& [id, copies] : block.data) EXPECT_EQ(copies[0].bytes.size(), 548u) << id;
    const Bytes payload = block.Payload();
    ASSERT_EQ(payload.size(), 2640u);
    size_t wrong = 0;
    for (uint32_t y = 0; y < 20; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            const uint32_t value = payload[y * 132 + 2 * x] | payload[y * 132 + 2 * x + 1] << 8;
            wrong += value != x + y + 1;
        }
        for (uint32_t i = 128; i < 132; ++i) wrong += payload[y * 132 + i] != 0;
    }
    EXPECT_EQ(wrong, 0u);
    ASSERT_EQ(block.trailers.size(), 1u);
    EXPECT_EQ(block.trailers[0].packetId, 6u);
    EXPECT_EQ(Be32(&block.trailers[0].bytes[16]), 6u);
}

TEST_F(StreamTest, ImageWithExtendedChunkData) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, 0x4001), 0);
    uint32_t payloadSize = 0;
    ASSERT_EQ(client_.ReadReg(kPayloadSizeReg, &payloadSize), 0);
    EXPECT_EQ(payloadSize, 1280u + 8u + 16u + 8u);
    const auto blocks = ByBlock(Acquire(2));
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        ASSERT_EQ(block.trailers.size(), 1u);
        EXPECT_EQ(Be16(block.leaders[0].Body() + 2), 0x4001);
        const uint64_t timestamp = Be64(block.leaders[0].Body() + 4);
        const GvspPacket& trailer = block.trailers[0];
        ASSERT_EQ(trailer.BodySize(), 16u);
        EXPECT_EQ(Be16(trailer.Body() + 2), 0x4001);
        EXPECT_EQ(Be32(trailer.Body() + 4), 20u);
        EXPECT_EQ(Be32(trailer.Body() + 8), payloadSize);
        EXPECT_NE(Be32(trailer.Body() + 12), 0u);  // chunk layout id
        const Bytes payload = block.Payload();
        ASSERT_EQ(payload.size(), payloadSize);
        // Chunks parse from the end: data, then id and length.
        size_t end = payload.size();
        EXPECT_EQ(Be32(&payload[end - 8]), 2u);
        ASSERT_EQ(Be32(&payload[end - 4]), 16u);
        EXPECT_EQ(Be64(&payload[end - 24]), id);
        EXPECT_EQ(Be64(&payload[end - 16]), timestamp);
        end -= 24;
        EXPECT_EQ(Be32(&payload[end - 8]), 1u);
        ASSERT_EQ(Be32(&payload[end - 4]), 1280u);
        EXPECT_EQ(end - 8 - 1280, 0u);
        ExpectMono8(payload, 64, 20, id);
    }
}

TEST_F(StreamTest, RawData) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, 0x0002), 0);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.size(), 1u);
    const ReceivedBlock& block = blocks.begin()->second;
    ASSERT_EQ(block.leaders.size(), 1u);
    ASSERT_EQ(block.leaders[0].BodySize(), 20u);
    EXPECT_EQ(Be16(block.leaders[0].Body() + 2), 0x0002);
    EXPECT_EQ(Be64(block.leaders[0].Body() + 12), 1280u);
    ASSERT_EQ(block.trailers.size(), 1u);
    ASSERT_EQ(block.trailers[0].BodySize(), 4u);
    EXPECT_EQ(Be16(block.trailers[0].Body() + 2), 0x0002);
    const Bytes payload = block.Payload();
    ASSERT_EQ(payload.size(), 1280u);
    size_t wrong = 0;
    for (size_t i = 0; i < payload.size(); ++i) wrong += payload[i] != static_cast<uint8_t>(i + 1);
    EXPECT_EQ(wrong, 0u);
}

TEST_F(StreamTest, ExtraPacketModeReservesSixteenBytesAndAddsAPacket) {
    ASSERT_EQ(client_.WriteReg(kSccfg0, 0x80), 0);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.size(), 1u);
    const ReceivedBlock& block = blocks.begin()->second;
    // 576 - 28 - 8 - 16 = 524 per packet: 524 + 524 + 232, then one more of zeros.
    ASSERT_EQ(block.data.size(), 4u);
    EXPECT_EQ(block.data.at(1)[0].BodySize(), 524u);
    EXPECT_EQ(block.data.at(3)[0].BodySize(), 232u);
    const GvspPacket& extra = block.data.at(4)[0];
    EXPECT_EQ(extra.BodySize(), 524u);
    EXPECT_EQ(std::count(extra.Body(), extra.Body() + extra.BodySize(), 0),
              static_cast<long>(extra.BodySize()));
    ASSERT_EQ(block.trailers.size(), 1u);
    EXPECT_EQ(block.trailers[0].packetId, 5u);
    ExpectMono8(block.Payload(), 64, 20, 1);
}

TEST_F(StreamTest, BlockIdsWrapFrom0xFFFFTo1AndGoPast16BitsWhenExtended) {
    camera_->SetNextBlockId(0xFFFE);
    auto blocks = ByBlock(Acquire(3));
    std::vector<uint64_t> ids;
    for (const auto& [id, block] : blocks) ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<uint64_t>{1, 0xFFFE, 0xFFFF}));
    ExpectMono8(blocks.at(1).Payload(), 64, 20, 1);
    ASSERT_EQ(client_.WriteReg(kGvspConfig, 0x40000000), 0);
    camera_->SetNextBlockId(0xFFFF);
    blocks = ByBlock(Acquire(2));
    ids.clear();
    for (const auto& [id, block] : blocks) ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<uint64_t>{0xFFFF, 0x10000}));
}

TEST_F(StreamTest, ContinuousAtTheFrameRateUntilStoppedOrReleased) {
    ASSERT_EQ(client_.WriteReg(kAcquisitionFrameRateReg, FloatBits(50.0f)), 0);
    ASSERT_EQ(client_.WriteReg(kAcquisitionModeReg, kContinuous), 0);
    ASSERT_EQ(client_.WriteReg(kAcquisitionStartReg, 1), 0);
    std::this_thread::sleep_for(milliseconds(400));
    ASSERT_EQ(client_.WriteReg(kAcquisitionStopReg, 1), 0);
    const auto blocks = ByBlock(receiver_.Collect(1000, 200));
    EXPECT_GE(blocks.size(), 10u);  // 20 expected in 400 ms
    EXPECT_LE(blocks.size(), 24u);
    EXPECT_FALSE(receiver_.Receive(200));  // stopped

    camera_->StartStreaming();  // the in-process way; the channel is still open
    ASSERT_TRUE(receiver_.Receive(5000));
    ASSERT_EQ(client_.WriteReg(kCcp, 0), 0);  // releasing control closes the channel
    receiver_.Collect(1000, 200);
    EXPECT_FALSE(receiver_.Receive(200));
    uint32_t port = 1;
    ASSERT_EQ(client_.ReadReg(kScp0, &port), 0);
    EXPECT_EQ(port, 0u);
}

TEST_F(StreamTest, PacketResendSendsTheRequestedPacketsAgain) {
    camera_->faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {2});
    auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.count(1), 1u);
    EXPECT_EQ(blocks.at(1).data.count(2), 0u);
    // 16-bit request: channel 0, block 1, packets 1..2.
    Bytes request;
    for (uint16_t v : {0, 1}) PutBe16(request, v);
    PutBe32(request, 1);
    PutBe32(request, 2);
    client_.Send(0x0040, request, 0x00);
    auto resent = ByBlock(receiver_.Collect(1, 300));
    ASSERT_EQ(resent.count(1), 1u);
    ASSERT_EQ(resent.at(1).data.size(), 2u);
    const GvspPacket& second = resent.at(1).data.at(2)[0];
    EXPECT_EQ(second.BodySize(), 540u);
    for (size_t i = 0; i < second.BodySize(); ++i) {
        const size_t offset = 540 + i;
        ASSERT_EQ(second.Body()[i], Mono8(offset % 64, offset / 64, 1)) << i;
    }
    // An unknown block: one header-only PACKET_UNAVAILABLE.
    request[3] = 0x77;
    client_.Send(0x0040, request, 0x00);
    auto unavailable = receiver_.Receive(5000);
    ASSERT_TRUE(unavailable);
    EXPECT_EQ(unavailable->status, 0x800C);
    EXPECT_EQ(unavailable->bytes.size(), 8u);
    EXPECT_EQ(unavailable->blockId, 0x77u);
    const auto stats = camera_->StreamStats();
    EXPECT_EQ(stats.resendRequests, 2u);
    EXPECT_EQ(stats.packetsResent, 2u);
    EXPECT_EQ(stats.packetsUnavailable, 1u);
}

TEST_F(StreamTest, ExtendedPacketResendCarriesTheResentFlag) {
    uint32_t capability = 0;
    ASSERT_EQ(client_.ReadReg(kGvcpCapability, &capability), 0);
    EXPECT_EQ(capability & 0x02000004u, 0x02000004u);  // PACKETRESEND, test data
    ASSERT_EQ(client_.ReadReg(kGvspCapability, &capability), 0);
    EXPECT_EQ(capability & 0xC0000000u, 0xC0000000u);  // SCSP, 64-bit block ids
    ASSERT_EQ(client_.WriteReg(kGvspConfig, 0x40000000), 0);
    camera_->SetNextBlockId(0x123456789ull);
    camera_->faults().Stream().DropPackets(0x123456789ull, {0, GevSim::StreamFaults::kTrailer});
    ASSERT_EQ(client_.WriteReg(kAcquisitionModeReg, kSingleFrame), 0);
    ASSERT_EQ(client_.WriteReg(kAcquisitionStartReg, 1), 0);
    auto blocks = ByBlock(receiver_.Collect(1, 300));
    ASSERT_EQ(blocks.count(0x123456789ull), 1u);
    EXPECT_TRUE(blocks.at(0x123456789ull).leaders.empty());
    EXPECT_TRUE(blocks.at(0x123456789ull).trailers.empty());
    // Extended request: channel, reserved, first 0, last 4 (the trailer), block id.
    Bytes request;
    for (uint16_t v : {0, 0}) PutBe16(request, v);
    for (uint32_t v : {0u, 4u, 0x1u, 0x23456789u}) PutBe32(request, v);
    client_.Send(0x0040, request, 0x10);
    const auto resent = ByBlock(receiver_.Collect(1, 300));
    ASSERT_EQ(resent.count(0x123456789ull), 1u);
    const ReceivedBlock& block = resent.at(0x123456789ull);
    ASSERT_EQ(block.leaders.size(), 1u);
    ASSERT_EQ(block.trailers.size(), 1u);
    EXPECT_EQ(block.data.size(), 3u);
    EXPECT_EQ(block.leaders[0].flags, 0x0001);
    EXPECT_EQ(block.trailers[0].flags, 0x0001);
    EXPECT_EQ(block.data.at(1)[0].flags, 0x0001);
    ExpectMono8(block.Payload(), 64, 20, 0x123456789ull);
}

uint8_t Lfsr(size_t index) {
    uint16_t state = 0xFFFF;
    for (size_t i = 0; i < index; ++i)
        state = static_cast<uint16_t>((state >> 1) ^ ((state & 1) ? 0x8016 : 0));
    return static_cast<uint8_t>(state);
}

TEST_F(StreamTest, TestPacketHasThePacketSizeAndLfsrBytes) {
    ASSERT_EQ(client_.WriteReg(kScps0, 0xC0000000u | 1000u), 0);  // fire, do not fragment
    auto packet = receiver_.Receive(5000);
    ASSERT_TRUE(packet);
    ASSERT_EQ(packet->bytes.size(), 1000u - 28u);
    EXPECT_EQ(packet->status, 0);
    EXPECT_EQ(packet->blockId, 0u);
    EXPECT_EQ(packet->packetId, 0u);
    EXPECT_FALSE(packet->extended);
    size_t wrong = 0;
    for (size_t i = 0; i < packet->BodySize(); ++i) wrong += packet->Body()[i] != Lfsr(i);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(packet->Body()[0], 0xFF);
    uint32_t scps = 0;
    ASSERT_EQ(client_.ReadReg(kScps0, &scps), 0);
    EXPECT_EQ(scps, 0x40000000u | 1000u);  // bit 31 is not kept
    EXPECT_EQ(camera_->StreamStats().testPackets, 1u);
}

class NoTestDataStreamTest : public StreamTestBase {
    GevSim::CameraConfig Configure() override {
        auto config = StreamConfig();
        config.gvcpCapability &= ~GevSim::Capability::kTestData;
        return config;
    }
};

TEST_F(NoTestDataStreamTest, TestPacketCarriesZerosWithoutTheCapability) {
    ASSERT_EQ(client_.WriteReg(kScps0, 0x80000000u | 600u), 0);
    auto packet = receiver_.Receive(5000);
    ASSERT_TRUE(packet);
    ASSERT_EQ(packet->bytes.size(), 572u);
    EXPECT_EQ(std::count(packet->Body(), packet->Body() + packet->BodySize(), 0),
              static_cast<long>(packet->BodySize()));
}

}  // namespace
}  // namespace SimTest
