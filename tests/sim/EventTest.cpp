// The message channel: EVENT and EVENTDATA layouts, acknowledges, retries.
#include <future>

#include "SimTestBase.h"

namespace SimTest {
namespace {

class EventTest : public SimTestBase {
protected:
    void SetUp() override {
        SimTestBase::SetUp();
        if (IsSkipped()) return;
        camera_ = &StartCamera(Config());
        ASSERT_EQ(host_.WriteReg(kMcp, host_.Port()), 0);
        ASSERT_EQ(host_.WriteReg(kMcda, 0x7F000001), 0);
    }
    std::future<bool> SendAsync(const GevSim::EventMessage& event) {
        return std::async(std::launch::async, [this, event] { return camera_->SendEvent(event); });
    }
    void AckEvent(const Datagram& event) {
        Bytes ack;
        PutBe16(ack, 0);
        PutBe16(ack, static_cast<uint16_t>(Be16(&event.bytes[2]) + 1));
        PutBe16(ack, 0);
        PutBe16(ack, Be16(&event.bytes[6]));
        host_.SendRaw(ack, event.from, event.fromPort);
    }
    GevSim::Camera* camera_ = nullptr;
    GvcpTestClient host_;  // plays the host's message channel socket too
};

TEST_F(EventTest, EventWithAcknowledge) {
    GevSim::EventMessage event;
    event.eventId = 0x9001;
    event.streamChannel = 0;
    event.blockId = 0x1234;
    event.timestamp = 0x0102030405060708;
    auto sent = SendAsync(event);
    auto received = host_.Receive(1000);
    ASSERT_TRUE(received);
    const Bytes& b = received->bytes;
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(b[0], 0x42);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(Be16(&b[2]), 0x00C0);
    EXPECT_EQ(Be16(&b[4]), 16);
    EXPECT_EQ(Be16(&b[10]), 0x9001);
    EXPECT_EQ(Be16(&b[12]), 0);
    EXPECT_EQ(Be16(&b[14]), 0x1234);
    EXPECT_EQ(Be64(&b[16]), 0x0102030405060708u);
    EXPECT_EQ(received->fromPort, camera_->Register(kMcsp));
    EXPECT_EQ(received->fromPort, camera_->MessageSourcePort());
    AckEvent(*received);
    EXPECT_TRUE(sent.get());
}

TEST_F(EventTest, EventDataWithExtendedIdsAndNoAcknowledge) {
    GevSim::EventMessage event;
    event.eventId = 0x9002;
    event.blockId = 0x1122334455667788;
    event.timestamp = 42;
    event.data = {0xDE, 0xAD, 0xBE, 0xEF};
    event.extendedIds = true;
    event.ackRequired = false;
    EXPECT_TRUE(camera_->SendEvent(event));
    auto received = host_.Receive();
    ASSERT_TRUE(received);
    const Bytes& b = received->bytes;
    ASSERT_EQ(b.size(), 36u);
    EXPECT_EQ(b[1], 0x10);
    EXPECT_EQ(Be16(&b[2]), 0x00C2);
    EXPECT_EQ(Be16(&b[4]), 28);
    EXPECT_EQ(Be64(&b[16]), 0x1122334455667788u);
    EXPECT_EQ(Be64(&b[24]), 42u);
    EXPECT_EQ(Be32(&b[32]), 0xDEADBEEFu);
}

TEST_F(EventTest, RetriesAsMcttAndMcrcSayThenGivesUp) {
    ASSERT_EQ(host_.WriteReg(kMctt, 100), 0);
    ASSERT_EQ(host_.WriteReg(kMcrc, 2), 0);
    uint16_t id = 0;
    EXPECT_FALSE(camera_->SendEvent({}, &id));
    int copies = 0;
    while (auto received = host_.Receive(100)) {
        EXPECT_EQ(Be16(&received->bytes[6]), id);
        ++copies;
    }
    EXPECT_EQ(copies, 3);
}

TEST_F(EventTest, NothingIsSentOnAClosedChannelOrWithoutTheCapability) {
    ASSERT_EQ(host_.WriteReg(kMcp, 0), 0);
    EXPECT_FALSE(camera_->SendEvent({}));
    auto config = Config("127.0.0.3");
    config.gvcpCapability &= ~(GevSim::Capability::kEvent | GevSim::Capability::kEventData);
    auto& quiet = StartCamera(config);
    host_.SetCamera("127.0.0.3");
    ASSERT_EQ(host_.WriteReg(kMcp, host_.Port()), 0);
    ASSERT_EQ(host_.WriteReg(kMcda, 0x7F000001), 0);
    EXPECT_FALSE(quiet.SendEvent({}));
    EXPECT_FALSE(host_.Receive(200));
}

}  // namespace
}  // namespace SimTest
