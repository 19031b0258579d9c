// FORCEIP: a camera moves to the address it is given when the MAC matches.
#include "SimTestBase.h"

namespace SimTest {
namespace {

class ForceIpTest : public SimTestBase {
protected:
    static Bytes ForceIpPayload(const std::array<uint8_t, 6>& mac, uint32_t ip) {
        Bytes payload(56, 0);  // datagram offsets 10, 28, 44 and 60 less the 8-byte header
        std::copy(mac.begin(), mac.end(), payload.begin() + 2);
        for (int i = 0; i < 4; ++i) {
            payload[20 + i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
            payload[36 + i] = i == 0 ? 0xFF : 0;  // 255.0.0.0
        }
        return payload;
    }
};

TEST_F(ForceIpTest, MovesTheCameraToTheNewAddress) {
    auto& camera = StartCamera(Config());
    GvcpTestClient client;
    const uint16_t id = client.Send(kForceIp, ForceIpPayload(camera.config().mac, 0x7F000009), 0x01,
                                    "255.255.255.255");
    auto ack = client.Receive(1000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->bytes.size(), 8u);
    EXPECT_EQ(ack->AckCode(), 0x0005);
    EXPECT_EQ(ack->AckId(), id);
    EXPECT_EQ(ack->from, "127.0.0.9");
    EXPECT_EQ(camera.Address(), "127.0.0.9");
    client.SetCamera("127.0.0.9");
    uint32_t value = 0;
    EXPECT_EQ(client.ReadReg(0x0024, &value), 0);
    EXPECT_EQ(value, 0x7F000009u);
    client.SetCamera("127.0.0.2");
    EXPECT_FALSE(client.Transact(kReadReg, {0, 0, 0, 0}));
}

TEST_F(ForceIpTest, IgnoresOtherMacsAndKeepsTheAddressForZero) {
    auto& camera = StartCamera(Config());
    GvcpTestClient client;
    client.Send(kForceIp, ForceIpPayload({2, 0, 0, 0, 0, 9}, 0x7F000009), 0x01, "255.255.255.255");
    EXPECT_FALSE(client.Receive(300));
    client.Send(kForceIp, ForceIpPayload(camera.config().mac, 0), 0x01, "255.255.255.255");
    auto ack = client.Receive();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->AckCode(), 0x0005);
    EXPECT_EQ(camera.Address(), "127.0.0.2");
}

}  // namespace
}  // namespace SimTest
