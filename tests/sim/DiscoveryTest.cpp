// Discovery: acknowledge layout, broadcast reception on loopback and over a veth
// link into a camera namespace, broadcast acknowledges.
#include <set>

#include "SimTestBase.h"

namespace SimTest {
namespace {

class DiscoveryTest : public SimTestBase {};

std::string Text(const Bytes& ack, size_t offset, size_t size) {
    std::string text(ack.begin() + offset, ack.begin() + offset + size);
    return text.substr(0, text.find('\0'));
}

TEST_F(DiscoveryTest, AcknowledgeHasTheStandardLayout) {
    auto config = Config();
    config.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    config.serial = "SN42";
    config.userName = "left";
    config.versionMinor = 1;
    StartCamera(config);
    GvcpTestClient client;
    const uint16_t id = client.Send(kDiscovery, {}, 0x01, "255.255.255.255");
    auto ack = client.Receive();
    ASSERT_TRUE(ack);
    const Bytes& b = ack->bytes;
    ASSERT_EQ(b.size(), 256u);
    EXPECT_EQ(ack->from, "127.0.0.2");
    EXPECT_EQ(ack->Status(), 0);
    EXPECT_EQ(ack->AckCode(), 0x0003);
    EXPECT_EQ(ack->Length(), 248);
    EXPECT_EQ(ack->AckId(), id);
    EXPECT_EQ(Be32(&b[8]), 0x00020001u);
    EXPECT_EQ(Be32(&b[12]) & 0x80000000u, 0x80000000u);  // big-endian device
    EXPECT_EQ(Be16(&b[18]), 0x0211);
    EXPECT_EQ(Be32(&b[20]), 0x22334455u);
    EXPECT_EQ(Be32(&b[44]), 0x7F000002u);
    EXPECT_EQ(Be32(&b[60]), 0xFF000000u);
    EXPECT_EQ(Be32(&b[76]), 0u);
    EXPECT_EQ(Text(b, 80, 32), "Tarvane");
    EXPECT_EQ(Text(b, 112, 32), "GEVSIM-1");
    EXPECT_EQ(Text(b, 144, 32), "1.0");
    EXPECT_EQ(Text(b, 176, 48), config.manufacturerInfo);
    EXPECT_EQ(Text(b, 224, 16), "SN42");
    EXPECT_EQ(Text(b, 240, 16), "left");
}

TEST_F(DiscoveryTest, EveryCameraOnLoopbackHearsOneBroadcast) {
    auto second = Config("127.0.0.3");
    second.serial = "SIM0002";
    StartCamera(Config());
    StartCamera(second);
    GvcpTestClient client;
    client.Send(kDiscovery, {}, 0x01, "255.255.255.255");
    std::set<std::string> from;
    while (auto ack = client.Receive(300)) from.insert(ack->from);
    EXPECT_EQ(from, (std::set<std::string>{"127.0.0.2", "127.0.0.3"}));
}

TEST_F(DiscoveryTest, CameraInItsOwnNamespaceAnswersOverVeth) {
    const char* cam0 = std::getenv("GEVTLKRV_NETNS_CAM0");
    if (cam0 == nullptr) GTEST_SKIP() << "needs netns-run --cameras 1";
    auto config = Config("169.254.10.2");
    config.netns = cam0;
    StartCamera(config);
    GvcpTestClient client("169.254.10.1");
    client.Send(kDiscovery, {}, 0x01, "255.255.255.255");
    auto ack = client.Receive(1000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->from, "169.254.10.2");
    ASSERT_EQ(ack->bytes.size(), 256u);
    EXPECT_EQ(Be32(&ack->bytes[44]), 0xA9FE0A02u);
    EXPECT_EQ(Be32(&ack->bytes[60]), 0xFFFFFF00u);
}

TEST_F(DiscoveryTest, UnicastDiscoveryIsAnsweredEvenWithoutAckFlag) {
    StartCamera(Config());
    GvcpTestClient client;
    const uint16_t id = client.Send(kDiscovery, {}, 0x00);
    auto ack = client.Receive();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->AckId(), id);
}

TEST_F(DiscoveryTest, BroadcastsTheAcknowledgeWhenAllowedAndConfigured) {
    auto config = Config();
    config.broadcastAckWhenAllowed = true;
    StartCamera(config);
    GvcpTestClient client;
    // Hears only what is sent to 255.255.255.255 at the client's port.
    GvcpTestClient listener("255.255.255.255", "", client.Port());
    client.Send(kDiscovery, {}, 0x11);
    auto ack = listener.Receive();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->bytes.size(), 256u);
    EXPECT_FALSE(client.Receive(200));
    client.Send(kDiscovery, {}, 0x01);  // flag 0x10 clear: unicast
    EXPECT_TRUE(client.Receive());
    EXPECT_FALSE(listener.Receive(200));
}

}  // namespace
}  // namespace SimTest
