// Each fault switch once: dropped, delayed, pending, stale, failed, duplicate and
// short acknowledges, silence, and the received-command log.
#include "SimTestBase.h"

namespace SimTest {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class FaultTest : public SimTestBase {
protected:
    void SetUp() override {
        SimTestBase::SetUp();
        if (!IsSkipped()) camera_ = &StartCamera(Config());
    }
    Bytes ReadVersion() {
        Bytes payload;
        PutBe32(payload, 0x0000);
        return payload;
    }
    GevSim::Camera* camera_ = nullptr;
    GvcpTestClient client_;
};

TEST_F(FaultTest, DropsTheNextAcknowledges) {
    camera_->faults().DropAcks(2);
    EXPECT_FALSE(client_.Transact(kReadReg, ReadVersion()));
    EXPECT_FALSE(client_.Transact(kReadReg, ReadVersion()));
    EXPECT_TRUE(client_.Transact(kReadReg, ReadVersion()));
}

TEST_F(FaultTest, AimedFaultsPassOtherAddressesBy) {
    camera_->faults().DropAcks(1, 0x0A00);
    camera_->faults().SendStaleAcks(1, 0x7777, 0x0A00);
    // Other registers are answered plainly and use none of the counts up.
    auto plain = client_.Transact(kReadReg, ReadVersion());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->AckCode(), 0x0081);
    Bytes ccp;
    PutBe32(ccp, 0x0A00);
    EXPECT_FALSE(client_.Transact(kReadReg, ccp));
    const uint16_t id = client_.Send(kReadReg, ccp);
    auto stale = client_.Receive();
    auto real = client_.Receive();
    ASSERT_TRUE(stale && real);
    EXPECT_EQ(stale->AckId(), 0x7777);
    EXPECT_EQ(real->AckId(), id);
}

TEST_F(FaultTest, SilentCameraIgnoresEverythingUntilSwitchedBack) {
    camera_->faults().SetSilent(true);
    EXPECT_FALSE(client_.Transact(kDiscovery, {}));
    EXPECT_FALSE(client_.Transact(kReadReg, ReadVersion()));
    camera_->faults().SetSilent(false);
    EXPECT_TRUE(client_.Transact(kDiscovery, {}));
    EXPECT_EQ(camera_->ReceivedCommands().size(), 3u);  // logged even while unplugged
}

TEST_F(FaultTest, DelaysEveryAcknowledge) {
    camera_->faults().SetAckDelay(milliseconds(300));
    const auto start = Clock::now();
    EXPECT_TRUE(client_.Transact(kReadReg, ReadVersion()));
    EXPECT_GE(Clock::now() - start, milliseconds(280));
}

TEST_F(FaultTest, PendingAckAnnouncesTheCompletionTime) {
    camera_->faults().SendPendingAcks(1, milliseconds(300));
    const auto start = Clock::now();
    const uint16_t id = client_.Send(kReadReg, ReadVersion());
    auto pending = client_.Receive();
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->bytes.size(), 12u);
    EXPECT_EQ(pending->AckCode(), 0x0089);
    EXPECT_EQ(pending->AckId(), id);
    EXPECT_EQ(Be16(&pending->bytes[10]), 300);
    auto ack = client_.Receive(1000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->AckCode(), 0x0081);
    EXPECT_GE(Clock::now() - start, milliseconds(280));
}

TEST_F(FaultTest, StaleAcknowledgeComesFirst) {
    camera_->faults().SendStaleAcks(1);
    client_.Send(kReadReg, ReadVersion());  // id 1: the stale one before it is 0xFFFF
    const uint16_t id = client_.Send(kReadReg, ReadVersion());
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(client_.Receive());  // stale + answer to id 1
    auto ack = client_.Receive();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->AckId(), id);
    camera_->faults().SendStaleAcks(1, 0x7777);
    const uint16_t next = client_.Send(kReadReg, ReadVersion());
    auto stale = client_.Receive();
    auto real = client_.Receive();
    ASSERT_TRUE(stale && real);
    EXPECT_EQ(stale->AckId(), 0x7777);
    EXPECT_EQ(real->AckId(), next);
}

TEST_F(FaultTest, FailsCommandsOnOneAddressWithTheGivenStatus) {
    camera_->faults().FailCommands(1, 0x8006, 0x0A00);
    EXPECT_EQ(client_.ReadReg(0x0000), 0);
    Bytes ccp;
    PutBe32(ccp, 0x0A00);
    auto ack = client_.Transact(kReadReg, ccp);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Status(), 0x8006);
    EXPECT_EQ(ack->bytes.size(), 8u);
    EXPECT_EQ(client_.ReadReg(0x0A00), 0);
}

TEST_F(FaultTest, DuplicateAndShortDiscoveryAcknowledges) {
    camera_->faults().SetDuplicateDiscoveryAcks(true);
    client_.Send(kDiscovery, {});
    EXPECT_TRUE(client_.Receive());
    EXPECT_TRUE(client_.Receive());
    camera_->faults().Clear();
    camera_->faults().SetDiscoveryAckLength(200);
    auto ack = client_.Transact(kDiscovery, {});
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->bytes.size(), 200u);
}

TEST_F(FaultTest, LogsWhatWasReceived) {
    camera_->ClearReceivedCommands();
    client_.Transact(kReadReg, ReadVersion(), 0x01);
    const auto log = camera_->ReceivedCommands();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, kReadReg);
    EXPECT_EQ(log[0].flags, 0x01);
    EXPECT_EQ(log[0].length, 4);
    EXPECT_EQ(log[0].address, 0x0000u);
    EXPECT_EQ(log[0].senderAddress, "127.0.0.1");
    EXPECT_EQ(log[0].senderPort, client_.Port());
    EXPECT_FALSE(log[0].broadcast);
}

}  // namespace
}  // namespace SimTest
