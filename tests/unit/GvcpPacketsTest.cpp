// The GVCP codec on byte arrays: commands exactly as they go on the wire,
// acknowledges and event messages read without going past the datagram.
#include <gtest/gtest.h>

#include <vector>

#include "DiscoveryAck.h"
#include "GvcpPackets.h"

using namespace Vantor;
using Bytes = std::vector<uint8_t>;

TEST(GvcpCommands, RegisterAndMemoryCommandsAreBigEndianWithTheirLengths) {
    uint8_t out[1200];
    ASSERT_EQ(Gvcp::BuildReadReg(out, 0x1234, 0x0A00, 1), 12u);
    EXPECT_EQ(Bytes(out, out + 12),
              (Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x12, 0x34, 0x00, 0x00, 0x0A, 0x00}));

    std::vector<uint32_t> values(200, 0xCAFEBABE);
    ASSERT_EQ(Gvcp::BuildWriteReg(out, 1, 0x100, values.size(), values.data()), 8u + 8 * 134)
        << "at most 134 pairs";
    EXPECT_EQ(Gvcp::GetU16(out + 4), 8 * 134);
    EXPECT_EQ(Gvcp::GetU32(out + 8 + 8 * 133), 0x100u + 4 * 133);

    ASSERT_EQ(Gvcp::BuildReadMem(out, 2, 0x10218, 464), 16u);
    EXPECT_EQ(Bytes(out, out + 16), (Bytes{0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0x00, 0x02, 0x00,
                                           0x01, 0x02, 0x18, 0x00, 0x00, 0x01, 0xD0}));

    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(Gvcp::BuildWriteMem(out, 3, 0x20000, data, 3), 15u);
    EXPECT_EQ(Gvcp::GetU16(out + 4), 7);
}

TEST(GvcpCommands, DiscoveryAndForceIpCommands) {
    uint8_t out[64];
    ASSERT_EQ(Gvcp::BuildDiscovery(out, false), 8u);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01}));
    Gvcp::BuildDiscovery(out, true);
    EXPECT_EQ(out[1], 0x11);

    const uint8_t mac[6] = {0x00, 0x30, 0x53, 0x01, 0x02, 0x03};
    const uint32_t ip = 0x0A0000A9;  // 169.0.0.10 as stored in network order
    ASSERT_EQ(Gvcp::BuildForceIp(out, mac, ip, 0x00FFFFFF, 0), 64u);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(Gvcp::GetU16(out + 4), 56);
    EXPECT_EQ(Bytes(out + 10, out + 16), Bytes(mac, mac + 6));
    EXPECT_EQ(Bytes(out + 28, out + 32), (Bytes{0xA9, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(Bytes(out + 44, out + 48), (Bytes{0xFF, 0xFF, 0xFF, 0x00}));
    Gvcp::BuildForceIp(out, mac, 0, 0, 0);
    EXPECT_EQ(out[1], 0x00) << "no acknowledge asked when the address is 0";
}

TEST(GvcpAcks, ReadRegisterValuesNeverGoPastTheDatagramOrTheCallersArray) {
    Bytes ack{0x00, 0x00, 0x00, 0x81, 0x00, 0x08, 0x00, 0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    uint32_t values[4] = {0, 0, 0, 0};
    EXPECT_EQ(Gvcp::ParseReadRegValues(ack.data(), ack.size(), values, 4), 1u)
        << "two announced, one whole value present";
    EXPECT_EQ(values[0], 0x11223344u);
    EXPECT_EQ(values[1], 0u);

    ack[5] = 0xF0;  // announces 60 values
    ack.resize(8 + 16, 0xAB);
    EXPECT_EQ(Gvcp::ParseReadRegValues(ack.data(), ack.size(), values, 2), 2u);
    EXPECT_EQ(Gvcp::ParseReadRegValues(ack.data(), 7, values, 2), 0u);
}

TEST(GvcpAcks, PendingAckTimeNeedsTheWholeDatagram) {
    Bytes pending{0x00, 0x00, 0x00, 0x89, 0x00, 0x04, 0x00, 0x09, 0x00, 0x00, 0x01, 0xF4};
    EXPECT_EQ(Gvcp::PendingAckTime(pending.data(), pending.size()), 500);
    EXPECT_EQ(Gvcp::PendingAckTime(pending.data(), 11), 0);
    Gvcp::AckHeader header{};
    ASSERT_TRUE(Gvcp::ParseAckHeader(pending.data(), pending.size(), &header));
    EXPECT_EQ(header.code, Gvcp::kPendingAck);
    EXPECT_EQ(header.ackId, 9);
    EXPECT_FALSE(Gvcp::ParseAckHeader(pending.data(), 7, &header));
}

TEST(GvcpEvents, StandardAndExtendedLayouts) {
    Bytes standard{0x42, 0x01, 0x00, 0xC0, 0x00, 0x10, 0x00, 0x07, 0x00, 0x00, 0x00, 0x03,
                   0x00, 0x01, 0x12, 0x34, 1,    2,    3,    4,    5,    6,    7,    8};
    Gvcp::EventMessage event{};
    ASSERT_EQ(Gvcp::ParseEvent(standard.data(), standard.size(), &event), Gvcp::EventParse::Ok);
    EXPECT_EQ(event.eventId, 3);
    EXPECT_EQ(event.requestId, 7);
    EXPECT_EQ(event.blockId, 0x1234u);
    EXPECT_EQ(event.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(event.data, nullptr);

    Bytes extended(32 + 16, 0);
    extended[0] = 0x42;
    extended[1] = 0x10;
    extended[3] = 0xC2;
    extended[5] = 40;
    extended[16 + 7] = 0x99;  // block id low byte
    extended[24 + 7] = 0x77;  // timestamp low byte
    extended[32] = 0xDA;
    ASSERT_EQ(Gvcp::ParseEvent(extended.data(), extended.size(), &event), Gvcp::EventParse::Ok);
    EXPECT_EQ(event.blockId, 0x99u);
    EXPECT_EQ(event.timestamp, 0x77u);
    ASSERT_EQ(event.dataLength, 16u);
    EXPECT_EQ(event.data[0], 0xDA);

    uint8_t ack[8];
    ASSERT_EQ(Gvcp::BuildEventAck(ack, Gvcp::kEventDataCmd, 0x0102), 8u);
    EXPECT_EQ(Bytes(ack, ack + 8), (Bytes{0, 0, 0x00, 0xC3, 0, 0, 0x01, 0x02}));
}

TEST(GvcpEvents, ShortOrForeignDatagramsAreRecognised) {
    Gvcp::EventMessage event{};
    Bytes readreg{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00, 0x01, 0, 0, 0, 0};
    EXPECT_EQ(Gvcp::ParseEvent(readreg.data(), readreg.size(), &event), Gvcp::EventParse::NotEvent);
    Bytes truncated{0x42, 0x10, 0x00, 0xC0, 0x00, 0x18, 0x00, 0x01, 0, 0, 0, 3, 0, 0, 0, 0};
    EXPECT_EQ(Gvcp::ParseEvent(truncated.data(), truncated.size(), &event),
              Gvcp::EventParse::Truncated);
    // EVENTDATA announcing more data than came: cut to what is there.
    Bytes lying(24 + 4, 0);
    lying[0] = 0x42;
    lying[3] = 0xC2;
    lying[4] = 0x02;
    ASSERT_EQ(Gvcp::ParseEvent(lying.data(), lying.size(), &event), Gvcp::EventParse::Ok);
    EXPECT_EQ(event.dataLength, 4u);
}

TEST(DiscoveryAcks, ProperIncorrectAndForeignDatagrams) {
    GevAdapterEntry adapter{0x010AFEA9, 0x00FFFFFF, "gvh0"};
    Bytes ack(256, 0);
    ack[3] = 0x03;
    ack[1] = 0x00;
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::copy(mac, mac + 6, ack.begin() + 18);
    const uint8_t ip[4] = {169, 254, 10, 2};
    std::copy(ip, ip + 4, ack.begin() + 44);
    std::fill(ack.begin() + 80, ack.begin() + 112, 'V');  // 32 characters, no terminator
    GevDiscoveredDevice record{};
    uint16_t status = 1;
    ASSERT_EQ(ReadDiscoveryAck(ack.data(), ack.size(), 0, adapter, &record, &status),
              DiscoveryAckKind::Valid);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::string(record.manufacturer, 32), std::string(32, 'V'));
    EXPECT_EQ(Bytes(record.macHigh, record.macHigh + 2), (Bytes{0x00, 0x11}));
    EXPECT_EQ(Bytes(record.macLow, record.macLow + 4), (Bytes{0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(Bytes(reinterpret_cast<uint8_t*>(&record.cameraAddress),
                    reinterpret_cast<uint8_t*>(&record.cameraAddress) + 4),
              Bytes(ip, ip + 4));
    EXPECT_STREQ(record.adapterName, "gvh0");

    ASSERT_EQ(ReadDiscoveryAck(ack.data(), 200, 0x0202A8C0, adapter, &record, &status),
              DiscoveryAckKind::Incorrect);
    EXPECT_STREQ(record.model, "Discovery Acknowledge Incorrect");
    EXPECT_EQ(record.cameraAddress, 0x0202A8C0u);

    ack[3] = 0x81;
    EXPECT_EQ(ReadDiscoveryAck(ack.data(), ack.size(), 0, adapter, &record, &status),
              DiscoveryAckKind::Foreign);
    EXPECT_EQ(ReadDiscoveryAck(ack.data(), 5, 0, adapter, &record, &status),
              DiscoveryAckKind::Foreign);
}
