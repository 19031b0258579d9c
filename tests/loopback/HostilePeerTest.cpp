// A broken or hostile camera must not hold a caller: floods of stale or
// pending acknowledges end with the exchange, and acknowledges from anybody
// but the camera's own address and GVCP port are not taken.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "DeviceTable.h"
#include "GvcpExchange.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;

namespace {

constexpr uint32_t kUserRegister = 0x00010000;
// Far longer than any bounded exchange: the peer is still flooding when it ends.
constexpr int kFloodReplies = 100;
constexpr int kFloodIntervalMs = 100;

class HostilePeer : public ScriptedCameraTest {
protected:
    void SetUp() override {
        ScriptedCameraTest::SetUp();
        m_peer.SetRegister(0x0938, 60000);  // the heartbeat keeps out of the way
        ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    }

    // Answers every read of the user register with a flood of `make(requestId)`.
    void Flood(std::function<Bytes(uint16_t)> make) {
        m_peer.SetScript([make](const Command& c, std::vector<Reply>& replies) {
            if (c.firstAddress() != kUserRegister) return false;
            for (int i = 0; i < kFloodReplies; ++i)
                replies.push_back(Reply{make(c.requestId()), kFloodIntervalMs});
            return true;
        });
    }
};

// A socket of the test on `address`:`port`, closed with the test.
class ForeignSender {
public:
    ForeignSender(const char* address, uint16_t port) : m_socket(::socket(AF_INET, SOCK_DGRAM, 0)) {
        m_bound = TestSockets::Bind(m_socket, address, port);
    }
    ~ForeignSender() { ::close(m_socket); }
    bool bound() const { return m_bound; }
    void SendTo(const Bytes& bytes, uint32_t address, uint16_t port) {
        TestSockets::SendTo(m_socket, bytes, address, port);
    }

private:
    int m_socket;
    bool m_bound = false;
};

}  // namespace

TEST_F(HostilePeer, StaleAcknowledgesDoNotRestartTheWait) {
    Flood([](uint16_t id) {
        Bytes stale = AckHeader(0, 0x0081, 4, static_cast<uint16_t>(id - 1));
        Put32(stale, 0xDEADBEEF);
        return stale;
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevTimeout);
    EXPECT_LT(m_peer.RepliesSent(), size_t{kFloodReplies}) << "the read waited out the flood";
}

TEST_F(HostilePeer, PendingAcknowledgesExtendTheExchangeOnlyUpToACap) {
    Flood([](uint16_t id) {
        Bytes pending = AckHeader(0, 0x0089, 4, id);
        Put16(pending, 0);
        Put16(pending, 2 * kFloodIntervalMs);
        return pending;
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevTimeout);
    EXPECT_LT(m_peer.RepliesSent(), size_t{kFloodReplies}) << "the read waited out the flood";
    EXPECT_FALSE(SlotOf(1)->record.pendingAck.load());
}

TEST_F(HostilePeer, AcknowledgesFromOtherSendersAreNotTaken) {
    // Held by the script, so they close only after the peer's thread stopped using them.
    auto otherHost = std::make_shared<ForeignSender>("127.0.0.3", 3956);
    auto otherPort = std::make_shared<ForeignSender>("127.0.0.2", 3957);
    ASSERT_TRUE(otherHost->bound() && otherPort->bound());
    m_peer.SetRegister(kUserRegister, 42);
    m_peer.SetScript([this, otherHost, otherPort](const Command& c, std::vector<Reply>& replies) {
        if (c.firstAddress() != kUserRegister) return false;
        // Forged answers with the right id arrive first; the camera's comes later.
        Bytes forged = AckHeader(0, 0x0081, 4, c.requestId());
        Put32(forged, 0xBAD0BAD0);
        otherHost->SendTo(forged, c.sender, c.senderPort);
        otherPort->SendTo(forged, c.sender, c.senderPort);
        Reply real = m_peer.ModelAnswer(c).front();
        real.delayMs = 50;
        replies.push_back(real);
        return true;
    });
    uint32_t value = 0;
    ASSERT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevOk);
    EXPECT_EQ(value, 42u);
}

TEST(ExchangeDeadline, NothingButAPendingAcknowledgeMovesTheEnd) {
    ExchangeDeadline deadline(200, 3);
    EXPECT_EQ(deadline.End(), 600u);
    deadline.StartAttempt(0, 200);
    EXPECT_EQ(deadline.Remaining(150), 50u) << "a stale datagram at 150 ms leaves 50 ms";
    deadline.Pending(150, 500);
    EXPECT_EQ(deadline.Remaining(150), 500u);
    EXPECT_EQ(deadline.End(), 650u);
    // An endless run of long PENDING_ACKs ends at the cap.
    for (uint32_t t = 200; t < 60000; t += 100) deadline.Pending(t, 65535);
    EXPECT_EQ(deadline.End(), 600u + kMaxPendingExtensionMs);
    EXPECT_TRUE(deadline.ExchangeOver(600u + kMaxPendingExtensionMs));
    EXPECT_EQ(deadline.Remaining(600u + kMaxPendingExtensionMs), 0u);
}
