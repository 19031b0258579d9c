// The payload types beyond image and raw, as a host receives them: JPEG and chunk data
// blocks whose size changes from block to block, multi-part blocks in multi-part data
// packets, GenDC containers in GenDC data packets. Layouts and formulas are written
// down here from the GigE Vision and GenDC rules and the simulator's documentation.
#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "StreamTestBase.h"

namespace SimTest {
namespace {

constexpr uint16_t kChunkData = 0x0004, kJpeg = 0x0006, kMultiPart = 0x000A, kGenDC = 0x000B;
constexpr uint32_t kConfidence8 = 0x010800C6;
// 64 x 20 Mono8, SCPS 576: 540 bytes after a 16-bit header, 528 after an extended one.
constexpr uint64_t kPixels = 64 * 20;

uint64_t Be48(const uint8_t* p) {
    return uint64_t{Be16(p)} << 32 | Be32(p + 2);
}

uint64_t Le(const uint8_t* p, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = bytes; i > 0; --i) value = value << 8 | p[i - 1];
    return value;
}

class StreamPayloadTest : public StreamTestBase {
protected:
    uint32_t PayloadSize() {
        uint32_t size = 0;
        EXPECT_EQ(client_.ReadReg(kPayloadSizeReg, &size), 0);
        return size;
    }

    // The block's data packets are 1..trailer id - 1, each exactly once.
    static void ExpectAllDataPackets(const ReceivedBlock& block) {
        ASSERT_EQ(block.trailers.size(), 1u);
        const uint32_t trailerId = block.trailers[0].packetId;
        ASSERT_EQ(block.data.size(), trailerId - 1);
        for (uint32_t id = 1; id < trailerId; ++id) {
            ASSERT_EQ(block.data.count(id), 1u) << id;
            EXPECT_EQ(block.data.at(id).size(), 1u) << id;
        }
    }
};

TEST_F(StreamPayloadTest, JpegBlocksHaveTheSizeTheirLeaderGives) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kJpeg), 0);
    EXPECT_EQ(PayloadSize(), kPixels);
    const auto blocks = ByBlock(Acquire(4));
    ASSERT_EQ(blocks.size(), 4u);
    std::set<uint64_t> sizes;
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        const GvspPacket& leader = block.leaders[0];
        ASSERT_EQ(leader.BodySize(), 32u);
        const uint8_t* l = leader.Body();
        EXPECT_EQ(l[0], 0);  // field info
        EXPECT_EQ(l[1], 0);  // generic flags
        EXPECT_EQ(Be16(l + 2), kJpeg);
        EXPECT_NE(Be64(l + 4), 0u);  // timestamp
        const uint64_t size = Be64(l + 12);
        EXPECT_EQ(size, kPixels - 1 - (id * 7919) % (kPixels / 2)) << id;
        EXPECT_LT(size, kPixels);
        EXPECT_GE(size, kPixels / 2);
        EXPECT_EQ(Be64(l + 20), 1000000000u);  // timestamp tick frequency
        EXPECT_EQ(Be32(l + 28), 0u);           // data format
        sizes.insert(size);

        ExpectAllDataPackets(block);
        EXPECT_EQ(block.trailers[0].packetId, (size + 539) / 540 + 1);
        ASSERT_EQ(block.trailers[0].BodySize(), 4u);
        EXPECT_EQ(Be16(block.trailers[0].Body() + 2), kJpeg);
        for (const auto& [packetId, copies] : block.data) EXPECT_EQ(copies[0].format, 3);
        const Bytes payload = block.Payload();
        ASSERT_EQ(payload.size(), size);
        size_t wrong = 0;
        for (size_t i = 0; i < payload.size(); ++i)
            wrong += payload[i] != static_cast<uint8_t>(i * 7 + id);
        EXPECT_EQ(wrong, 0u) << id;
    }
    EXPECT_EQ(sizes.size(), 4u);  // every block its own size
}

TEST_F(StreamPayloadTest, ChunkDataParsesFromItsEndAndChangesSize) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kChunkData), 0);
    const uint32_t payloadSize = PayloadSize();
    EXPECT_EQ(payloadSize, kPixels + 8 + 16 + 8);
    const auto blocks = ByBlock(Acquire(4));
    ASSERT_EQ(blocks.size(), 4u);
    size_t shorter = 0;
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        ASSERT_EQ(block.leaders[0].BodySize(), 12u);
        EXPECT_EQ(Be16(block.leaders[0].Body() + 2), kChunkData);
        const uint64_t timestamp = Be64(block.leaders[0].Body() + 4);
        ExpectAllDataPackets(block);
        const GvspPacket& trailer = block.trailers[0];
        ASSERT_EQ(trailer.BodySize(), 8u);
        EXPECT_EQ(Be16(trailer.Body() + 2), kChunkData);
        const uint32_t chunkLength = Be32(trailer.Body() + 4);
        const Bytes payload = block.Payload();
        ASSERT_EQ(payload.size(), chunkLength);
        ASSERT_LE(chunkLength, payloadSize);
        shorter += chunkLength < payloadSize;

        size_t end = payload.size();
        ASSERT_GE(end, 24u);
        EXPECT_EQ(Be32(&payload[end - 8]), 2u);
        ASSERT_EQ(Be32(&payload[end - 4]), 16u);
        EXPECT_EQ(Be64(&payload[end - 24]), id);
        EXPECT_EQ(Be64(&payload[end - 16]), timestamp);
        end -= 24;
        ASSERT_GE(end, 8u);
        EXPECT_EQ(Be32(&payload[end - 8]), 3u);
        const uint32_t length = Be32(&payload[end - 4]);
        EXPECT_EQ(length, kPixels - 4 * ((id * 7919) % (kPixels / 8))) << id;
        EXPECT_EQ(length % 4, 0u);
        ASSERT_EQ(end - 8, length);  // the data chunk starts the payload
        size_t wrong = 0;
        for (size_t i = 0; i < length; ++i) wrong += payload[i] != static_cast<uint8_t>(i * 3 + id);
        EXPECT_EQ(wrong, 0u) << id;
    }
    EXPECT_GE(shorter, 3u);
}

TEST_F(StreamPayloadTest, MultiPartBlocksNeedMorePacketsThanTheirPayload) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kMultiPart), 0);
    // The image, then a 32 x 10 confidence map.
    EXPECT_EQ(PayloadSize(), kPixels + 320);
    const auto blocks = ByBlock(Acquire(2));
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        const GvspPacket& leader = block.leaders[0];
        ASSERT_EQ(leader.BodySize(), 12u + 2 * 48);
        EXPECT_EQ(Be16(leader.Body() + 2), kMultiPart);
        const uint8_t* image = leader.Body() + 12;
        EXPECT_EQ(Be16(image + 0), 0x0001);  // 2D image
        EXPECT_EQ(Be48(image + 2), kPixels);
        EXPECT_EQ(Be32(image + 8), kMono8);
        EXPECT_EQ(image[14], 0);  // source id
        EXPECT_EQ(image[15], 0);  // additional zones
        EXPECT_EQ(Be32(image + 24), 64u);
        EXPECT_EQ(Be32(image + 28), 20u);
        EXPECT_EQ(Be32(image + 32), 0u);
        EXPECT_EQ(Be32(image + 36), 0u);
        EXPECT_EQ(Be16(image + 40), 0);
        const uint8_t* map = image + 48;
        EXPECT_EQ(Be16(map + 0), 0x0009);  // confidence map
        EXPECT_EQ(Be48(map + 2), 320u);
        EXPECT_EQ(Be32(map + 8), kConfidence8);
        EXPECT_EQ(Be32(map + 24), 32u);
        EXPECT_EQ(Be32(map + 28), 10u);

        // 540 - 8 = 532 data bytes a packet, a packet inside one part: 1280 bytes in
        // 532 + 532 + 216, then 320; 1600 bytes would fit in three generic packets.
        ExpectAllDataPackets(block);
        ASSERT_EQ(block.data.size(), 4u);
        const std::vector<std::tuple<uint8_t, uint8_t, uint64_t, size_t>> expected = {
            {0, 0x00, 0, 532}, {0, 0x00, 532, 532}, {0, 0x40, 1064, 216}, {1, 0x40, 0, 320}};
        Bytes parts[2] = {Bytes(kPixels), Bytes(320)};
        for (uint32_t packetId = 1; packetId <= 4; ++packetId) {
            const GvspPacket& packet = block.data.at(packetId)[0];
            const auto& [part, zoneInfo, offset, size] = expected[packetId - 1];
            EXPECT_EQ(packet.bytes[4], 0x07) << packetId;
            ASSERT_EQ(packet.BodySize(), 8 + size) << packetId;
            EXPECT_LE(packet.bytes.size() + 28, 576u);
            const uint8_t* body = packet.Body();
            EXPECT_EQ(body[0], part) << packetId;
            EXPECT_EQ(body[1], zoneInfo) << packetId;
            EXPECT_EQ(Be48(body + 2), offset) << packetId;
            std::copy_n(body + 8, size, parts[part].begin() + offset);
        }
        size_t wrong = 0;
        for (uint32_t y = 0; y < 20; ++y)
            for (uint32_t x = 0; x < 64; ++x) wrong += parts[0][y * 64 + x] != Mono8(x, y, id);
        for (uint32_t y = 0; y < 10; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                wrong += parts[1][y * 32 + x] != static_cast<uint8_t>(255 - x - y - id);
        EXPECT_EQ(wrong, 0u) << id;

        const GvspPacket& trailer = block.trailers[0];
        EXPECT_EQ(trailer.packetId, 5u);
        ASSERT_EQ(trailer.BodySize(), 4u + 2 * 16);
        const uint8_t* t = trailer.Body();
        EXPECT_EQ(Be16(t + 2), kMultiPart);
        EXPECT_EQ(Be16(t + 4), 0x0001);
        EXPECT_EQ(Be48(t + 6), kPixels);
        EXPECT_EQ(Be32(t + 12), 20u);
        EXPECT_EQ(Be16(t + 20), 0x0009);
        EXPECT_EQ(Be48(t + 22), 320u);
        EXPECT_EQ(Be32(t + 28), 10u);
    }
}

TEST_F(StreamPayloadTest, GenDCContainerWithExtendedIds) {
    ASSERT_EQ(client_.WriteReg(kGvspConfig, 0x40000000), 0);
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kGenDC), 0);
    constexpr uint64_t kDescriptor = 64 + 56 + 56;
    EXPECT_EQ(PayloadSize(), kDescriptor + kPixels);
    const auto blocks = ByBlock(Acquire(2));
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        const GvspPacket& leader = block.leaders[0];
        EXPECT_TRUE(leader.extended);
        ASSERT_EQ(leader.BodySize(), 28u);
        const uint8_t* l = leader.Body();
        EXPECT_EQ(Be16(l + 2), kGenDC);
        const uint64_t timestamp = Be64(l + 4);
        EXPECT_EQ(Be64(l + 12), kDescriptor + kPixels);
        EXPECT_EQ(l[20], 0);  // final descriptor
        EXPECT_EQ(Be32(l + 24), kDescriptor);

        // 528 - 16 = 512 bytes a packet: the descriptor alone, then 512 + 512 + 256.
        ExpectAllDataPackets(block);
        ASSERT_EQ(block.data.size(), 4u);
        const std::vector<std::tuple<uint64_t, size_t, uint8_t, uint8_t>> expected = {
            {0, kDescriptor, 0x70, 0x00},
            {kDescriptor, 512, 0x00, 0x80},
            {kDescriptor + 512, 512, 0x00, 0x00},
            {kDescriptor + 1024, 256, 0x00, 0x40}};
        Bytes container(kDescriptor + kPixels);
        for (uint32_t packetId = 1; packetId <= 4; ++packetId) {
            const GvspPacket& packet = block.data.at(packetId)[0];
            const auto& [offset, size, dataFlags, flowFlags] = expected[packetId - 1];
            EXPECT_EQ(packet.bytes[4], 0x88) << packetId;  // EI, GenDC format
            ASSERT_EQ(packet.BodySize(), 16 + size) << packetId;
            const uint8_t* body = packet.Body();
            EXPECT_EQ(Be32(body + 0), size) << packetId;
            EXPECT_EQ(Be64(body + 4), offset) << packetId;
            EXPECT_EQ(body[12], dataFlags) << packetId;
            EXPECT_EQ(body[13], flowFlags) << packetId;
            EXPECT_EQ(Be16(body + 14), 0) << packetId;  // flow id
            std::copy_n(body + 16, size, container.begin() + offset);
        }

        // The descriptor, little-endian: container header, component header, part header.
        const uint8_t* c = container.data();
        EXPECT_EQ(std::string(c, c + 4), "GNDC");
        EXPECT_EQ(c[4], 1);
        EXPECT_EQ(Le(c + 8, 2), 0x1000u);
        EXPECT_EQ(Le(c + 12, 4), 64u);
        EXPECT_EQ(Le(c + 16, 8), id);
        EXPECT_EQ(Le(c + 32, 8), kPixels);
        EXPECT_EQ(Le(c + 40, 8), kDescriptor);
        EXPECT_EQ(Le(c + 48, 4), kDescriptor);
        EXPECT_EQ(Le(c + 52, 4), 1u);
        ASSERT_EQ(Le(c + 56, 8), 64u);
        const uint8_t* component = c + 64;
        EXPECT_EQ(Le(component + 0, 2), 0x2000u);
        EXPECT_EQ(Le(component + 4, 4), 56u);
        EXPECT_EQ(Le(component + 24, 8), timestamp);
        EXPECT_EQ(Le(component + 32, 8), 1u);  // intensity
        EXPECT_EQ(Le(component + 40, 4), kMono8);
        EXPECT_EQ(Le(component + 46, 2), 1u);
        ASSERT_EQ(Le(component + 48, 8), 120u);
        const uint8_t* part = c + 120;
        EXPECT_EQ(Le(part + 0, 2), 0x4200u);
        EXPECT_EQ(Le(part + 4, 4), 56u);
        EXPECT_EQ(Le(part + 8, 4), kMono8);
        EXPECT_EQ(Le(part + 14, 2), 0u);  // flow id
        EXPECT_EQ(Le(part + 16, 8), 0u);  // flow offset
        EXPECT_EQ(Le(part + 24, 8), kPixels);
        EXPECT_EQ(Le(part + 32, 8), 0u);  // data offset, from the container's data
        EXPECT_EQ(Le(part + 40, 4), 64u);
        EXPECT_EQ(Le(part + 44, 4), 20u);
        EXPECT_EQ(Le(part + 48, 2), 0u);

        size_t wrong = 0;
        for (uint32_t y = 0; y < 20; ++y)
            for (uint32_t x = 0; x < 64; ++x)
                wrong += container[kDescriptor + y * 64 + x] != Mono8(x, y, id);
        EXPECT_EQ(wrong, 0u) << id;
        ASSERT_EQ(block.trailers[0].BodySize(), 4u);
        EXPECT_EQ(Be16(block.trailers[0].Body() + 2), kGenDC);
    }
}

TEST_F(StreamPayloadTest, ExtraPacketModeKeepsTheFormatsPacketsAndAddsAGenericOne) {
    ASSERT_EQ(client_.WriteReg(kSccfg0, 0x80), 0);
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kMultiPart), 0);
    const auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.size(), 1u);
    const ReceivedBlock& block = blocks.begin()->second;
    // 524 - 8 = 516 a packet: 516 + 516 + 248, then 320, then 524 zeros.
    ExpectAllDataPackets(block);
    ASSERT_EQ(block.data.size(), 5u);
    EXPECT_EQ(block.data.at(3)[0].BodySize(), 8u + 248);
    EXPECT_EQ(block.data.at(4)[0].bytes[4], 0x07);
    const GvspPacket& extra = block.data.at(5)[0];
    EXPECT_EQ(extra.bytes[4], 0x03);
    EXPECT_EQ(extra.BodySize(), 524u);
    EXPECT_EQ(std::count(extra.Body(), extra.Body() + extra.BodySize(), 0), 524);
}

TEST_F(StreamPayloadTest, PacketResendOfAMultiPartPacketKeepsItsPartHeader) {
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kMultiPart), 0);
    camera_->faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {3});
    auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.count(1), 1u);
    EXPECT_EQ(blocks.at(1).data.count(3), 0u);
    Bytes request;
    for (uint16_t v : {0, 1}) PutBe16(request, v);
    PutBe32(request, 3);
    PutBe32(request, 3);
    client_.Send(0x0040, request, 0x00);
    auto resent = receiver_.Receive(5000);
    ASSERT_TRUE(resent);
    EXPECT_EQ(resent->packetId, 3u);
    EXPECT_EQ(resent->format, 7);
    ASSERT_EQ(resent->BodySize(), 8u + 216);
    EXPECT_EQ(resent->Body()[1], 0x40);
    EXPECT_EQ(Be48(resent->Body() + 2), 1064u);
    EXPECT_EQ(resent->Body()[8], Mono8(1064 % 64, 1064 / 64, 1));
}

TEST_F(StreamPayloadTest, NewPayloadTypesAreSelectableAndUnknownOnesRefused) {
    for (uint32_t type : {0x0004u, 0x0006u, 0x000Au, 0x000Bu}) {
        EXPECT_EQ(client_.WriteReg(kPayloadTypeReg, type), 0) << type;
        uint32_t value = 0;
        ASSERT_EQ(client_.ReadReg(kPayloadTypeReg, &value), 0);
        EXPECT_EQ(value, type);
    }
    for (uint32_t type : {0x0003u, 0x0005u, 0x0007u, 0x400Au})
        EXPECT_NE(client_.WriteReg(kPayloadTypeReg, type), 0) << type;
    ASSERT_EQ(client_.WriteReg(kPixelFormatReg, kMono16), 0);
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kMultiPart), 0);
    EXPECT_EQ(PayloadSize(), 2 * kPixels + 320);  // the map stays 8-bit
    ASSERT_EQ(client_.WriteReg(kPayloadTypeReg, kJpeg), 0);
    EXPECT_EQ(PayloadSize(), 2 * kPixels);
}

// --parts 3: a Mono16 range map before the image and the confidence map.
class StreamPayloadThreePartTest : public StreamPayloadTest {
protected:
    GevSim::CameraConfig Configure() override {
        GevSim::CameraConfig config = StreamConfig();
        config.payloadType = kMultiPart;
        config.multiPartParts = 3;
        return config;
    }
    static uint16_t Range(uint32_t x, uint32_t y, uint64_t block) {
        return static_cast<uint16_t>(x * 3 + y * 5 + block);
    }
};

TEST_F(StreamPayloadThreePartTest, EachPartIsDescribedAndSentInItsOwnPackets) {
    // Range 2 x 1280, image 1280, map 320 bytes.
    EXPECT_EQ(PayloadSize(), 2 * kPixels + kPixels + 320);
    const auto blocks = ByBlock(Acquire(2));
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto& [id, block] : blocks) {
        ASSERT_EQ(block.leaders.size(), 1u);
        const GvspPacket& leader = block.leaders[0];
        ASSERT_EQ(leader.BodySize(), 12u + 3 * 48);
        const uint8_t* range = leader.Body() + 12;
        EXPECT_EQ(Be16(range + 0), 0x0005);  // 3D image
        EXPECT_EQ(Be48(range + 2), 2 * kPixels);
        EXPECT_EQ(Be32(range + 8), kMono16);
        EXPECT_EQ(Be16(range + 20), 1);  // data purpose
        EXPECT_EQ(Be32(range + 24), 64u);
        EXPECT_EQ(Be32(range + 28), 20u);
        const uint8_t* image = range + 48;
        EXPECT_EQ(Be16(image + 0), 0x0001);
        EXPECT_EQ(Be48(image + 2), kPixels);
        EXPECT_EQ(Be32(image + 8), kMono8);
        EXPECT_EQ(Be16(image + 20), 2);
        const uint8_t* map = image + 48;
        EXPECT_EQ(Be16(map + 0), 0x0009);
        EXPECT_EQ(Be48(map + 2), 320u);
        EXPECT_EQ(Be16(map + 20), 3);

        // 532 data bytes a packet, each inside one part: 2560 in five, 1280 in
        // three, 320 in one.
        ExpectAllDataPackets(block);
        ASSERT_EQ(block.data.size(), 9u);
        Bytes parts[3] = {Bytes(2 * kPixels), Bytes(kPixels), Bytes(320)};
        std::vector<uint8_t> partOf;
        for (uint32_t packetId = 1; packetId <= 9; ++packetId) {
            const GvspPacket& packet = block.data.at(packetId)[0];
            EXPECT_EQ(packet.bytes[4], 0x07) << packetId;
            const uint8_t* body = packet.Body();
            const uint8_t part = body[0];
            ASSERT_LT(part, 3) << packetId;
            partOf.push_back(part);
            const uint64_t offset = Be48(body + 2);
            const size_t size = packet.BodySize() - 8;
            ASSERT_LE(offset + size, parts[part].size()) << packetId;
            std::copy_n(body + 8, size, parts[part].begin() + offset);
        }
        EXPECT_EQ(partOf, (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 1, 1, 2}));
        size_t wrong = 0;
        for (uint32_t y = 0; y < 20; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                wrong += Le(&parts[0][(y * 64 + x) * 2], 2) != Range(x, y, id);
                wrong += parts[1][y * 64 + x] != Mono8(x, y, id);
            }
        for (uint32_t y = 0; y < 10; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                wrong += parts[2][y * 32 + x] != static_cast<uint8_t>(255 - x - y - id);
        EXPECT_EQ(wrong, 0u) << id;

        const GvspPacket& trailer = block.trailers[0];
        ASSERT_EQ(trailer.BodySize(), 4u + 3 * 16);
        const uint8_t* t = trailer.Body();
        EXPECT_EQ(Be16(t + 4), 0x0005);
        EXPECT_EQ(Be48(t + 6), 2 * kPixels);
        EXPECT_EQ(Be32(t + 12), 20u);
        EXPECT_EQ(Be16(t + 36), 0x0009);
        EXPECT_EQ(Be32(t + 44), 10u);
    }
}

TEST_F(StreamPayloadThreePartTest, PacketResendOfARangePacketKeepsItsPartHeader) {
    camera_->faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {2});
    auto blocks = ByBlock(Acquire(1));
    ASSERT_EQ(blocks.count(1), 1u);
    EXPECT_EQ(blocks.at(1).data.count(2), 0u);
    Bytes request;
    for (uint16_t v : {0, 1}) PutBe16(request, v);
    PutBe32(request, 2);
    PutBe32(request, 2);
    client_.Send(0x0040, request, 0x00);
    auto resent = receiver_.Receive(5000);
    ASSERT_TRUE(resent);
    EXPECT_EQ(resent->packetId, 2u);
    EXPECT_EQ(resent->format, 7);
    ASSERT_EQ(resent->BodySize(), 8u + 532);
    EXPECT_EQ(resent->Body()[0], 0) << "a packet of the range map";
    EXPECT_EQ(Be48(resent->Body() + 2), 532u);
    // Byte 532 of the range map: the low byte of pixel 266, (266 % 64, 266 / 64).
    EXPECT_EQ(resent->Body()[8], static_cast<uint8_t>(Range(266 % 64, 266 / 64, 1)));
}

}  // namespace
}  // namespace SimTest
