// Opens against cameras that give bad answers: a heartbeat time-out of 0 must
// not make the heartbeat spin, and a failed open leaves nothing running.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;
using TestSockets::WaitFor;

namespace {

constexpr uint32_t kCcp = 0x0A00;

// True when a socket of ours can take `port` on any address (nobody holds it).
bool PortIsFree(uint16_t port) {
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    const bool free = TestSockets::Bind(probe, "0.0.0.0", port);
    ::close(probe);
    return free;
}

}  // namespace

TEST_F(ScriptedCameraTest, AHeartbeatTimeoutOfZeroDoesNotMakeTheHeartbeatSpin) {
    m_peer.SetRegister(0x0938, 0);
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    GevChannelParameters parameters{};
    ASSERT_EQ(GEVGetChannelParameter(1, &parameters), kGevOk);
    EXPECT_GE(parameters.heartbeatPeriod, 166u);
    // A consumer may ask for a period of 0 as well.
    parameters.heartbeatPeriod = 0;
    ASSERT_EQ(GEVSetChannelParameter(1, &parameters), kGevOk);
    ASSERT_TRUE(WaitFor([this] { return m_peer.Received(0x0080).size() >= 4; }));
    std::vector<Command> reads;
    for (const Command& c : m_peer.Received(0x0080))
        if (c.firstAddress() == kCcp) reads.push_back(c);
    ASSERT_GE(reads.size(), 3u);
    for (size_t i = 1; i < reads.size(); ++i) {
        // The heartbeat waits its period after each read: nothing can shorten the gap.
        auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(reads[i].at - reads[i - 1].at);
        EXPECT_GE(gap.count(), 150) << "heartbeat reads " << i - 1 << " and " << i;
    }
}

TEST_F(ScriptedCameraTest, AFailedOpenLeavesNoMessageChannelBehind) {
    m_peer.SetRegister(0x0900, 1);           // a message channel
    m_peer.SetRegister(0x0934, 0x0000001F);  // with events
    m_peer.SetRegister(0x0938, 60000);
    // The last step of the open, the stream channel facts, fails.
    m_peer.SetScript([](const Command& c, std::vector<Reply>& replies) {
        if (c.code() != 0x0080 || c.firstAddress() != 0x0904) return false;
        replies.push_back(Reply{AckHeader(0x8001, 0x0081, 0, c.requestId()), 0});
        return true;
    });
    EXPECT_EQ(Open(kAccessModeControl), 0x8001);
    const uint16_t messagePort = static_cast<uint16_t>(m_peer.Register(0x0B00));
    ASSERT_NE(messagePort, 0) << "the open had set up the message channel";
    EXPECT_FALSE(GEVIsOpen(1));
    EXPECT_TRUE(PortIsFree(messagePort)) << "the message socket stayed open";
}
