// Opening a camera, the heartbeat with its repairs, and closing, against a
// scripted camera on 127.0.0.2.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "Bootstrap.h"
#include "DebugOutput.h"
#include "DeviceTable.h"
#include "GvcpPackets.h"
#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;
using TestSockets::WaitFor;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kCcp = 0x0A00;

// What the lost handler was told; set by the heartbeat thread, read after it said so.
std::atomic<int> g_lostCalls{0};
std::atomic<uint8_t> g_lostHandle{0};
std::atomic<bool> g_lostSeenAsLost{false};

void OnLost(uint8_t handle) {
    g_lostHandle = handle;
    g_lostSeenAsLost = GEVIsDeviceLost(handle);
    ++g_lostCalls;
}

size_t ReadsOf(ScriptedPeer& peer, uint32_t address) {
    size_t reads = 0;
    for (const Command& c : peer.Received(Gvcp::kReadRegCmd))
        if (c.firstAddress() == address) ++reads;
    return reads;
}

// The values written to `address`, in order.
std::vector<uint32_t> WritesOf(ScriptedPeer& peer, uint32_t address) {
    std::vector<uint32_t> values;
    for (const Command& c : peer.Received(Gvcp::kWriteRegCmd))
        if (c.firstAddress() == address) values.push_back(Be32(&c.bytes[12]));
    return values;
}

size_t CcpReads(ScriptedPeer& peer) {
    return ReadsOf(peer, kCcp);
}

std::vector<uint32_t> CcpWrites(ScriptedPeer& peer) {
    return WritesOf(peer, kCcp);
}

class DeviceConnection : public ScriptedCameraTest {
protected:
    void SetUp() override {
        ScriptedCameraTest::SetUp();
        Platform::SetDebugOutputCapture([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(m_debugLock);
            m_debug.push_back(text);
        });
    }
    void TearDown() override {
        ScriptedCameraTest::TearDown();
        Platform::SetDebugOutputCapture(nullptr);
    }
    std::vector<std::string> Debug() {
        std::lock_guard<std::mutex> guard(m_debugLock);
        return m_debug;
    }
    // Heartbeat every 200 ms and a message channel.
    void FastHeartbeatWithMessageChannel() {
        m_peer.SetRegister(0x0938, 600);
        m_peer.SetRegister(0x0900, 1);
        m_peer.SetRegister(0x0934, 0x0000001F);
    }
    // The camera stops answering while `silent` is set.
    void SilenceWhile(std::atomic<bool>& silent) {
        m_peer.SetScript([&silent](const Command&, std::vector<Reply>&) { return silent.load(); });
    }

    std::mutex m_debugLock;
    std::vector<std::string> m_debug;
};

}  // namespace

TEST_F(DeviceConnection, SubnetMismatchIsRefusedBeforeAnythingIsSent) {
    GevOpenParams params = OpenParams("192.168.2.5", "192.168.1.10", "255.255.255.0");
    EXPECT_EQ(GEVOpenDevice(1, &params, &LogCapture::Callback, 0, kAccessModeControl),
              kGevSubnetMismatch);
    ASSERT_EQ(Debug().size(), 1u);
    EXPECT_EQ(Debug()[0], "[ERROR] -subnet mismatch: pc=a01a8c0, camera=502a8c0, mask=ffffff\r\n");
    EXPECT_EQ(GEVReadRegister(1, 0, 1, nullptr), kGevHandleNotOpen);
}

TEST_F(DeviceConnection, OpenAccessReadsTheStreamFactsAndTakesNoPrivilege) {
    m_peer.SetRegister(0x0904, 1);
    m_peer.SetRegister(0x0000, 0x00010002);
    m_peer.SetRegister(0x0D04, 1500);
    ASSERT_EQ(Open(kAccessModeOpen), kGevOk);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(CcpReads(m_peer), 0u) << "no heartbeat without privilege";
    EXPECT_TRUE(CcpWrites(m_peer).empty());
    EXPECT_EQ(SlotOf(1)->record.packetDataSize, 1464u);
    EXPECT_EQ(SlotOf(1)->record.gevMajor, 1);
    EXPECT_EQ(GEVSetMessageHandler(1, nullptr), kGevNotSupported);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -GEV Version: 1.2"));
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Stream channel is available."));
}

TEST_F(DeviceConnection, OpenLogsItsStepsAndASecondOpenOfTheSlotIsRefused) {
    m_peer.SetRegister(0x0904, 1);
    m_peer.SetRegister(0x0D04, 9000);
    GevOpenParams params = OpenParams();
    ASSERT_EQ(GEVOpenDevice(50, &params, &LogCapture::Callback, 0, kAccessModeControl), kGevOk);
    EXPECT_EQ(SlotOf(50)->record.packetDataSize, 8952u) << "GEV 2 headers are 48 bytes";
    EXPECT_EQ(GEVOpenDevice(50, &params, &LogCapture::Callback, 0, kAccessModeControl),
              kGevSlotInUse);
    EXPECT_EQ(m_peer.Register(kCcp), 2u);
    for (const char* line :
         {"[INFO] -Open control port.",
          "[INFO] -Control channel port: ", "[INFO] -Start heartbeat thread.",
          "[INFO] -Message channel is not available.", "[INFO] -Init device time: "})
        EXPECT_TRUE(LogCapture::Contains(line)) << line;
    for (const LogCapture::Entry& entry : LogCapture::Take()) {
        EXPECT_EQ(entry.handle, 50);
        EXPECT_NE(entry.text.back(), '\n') << "trailing line ends are cut";
    }
    EXPECT_EQ(GEVClose(50), kGevOk);
    EXPECT_EQ(m_peer.Register(kCcp), 0u) << "close releases the privilege";
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Close device time: "));
}

TEST_F(DeviceConnection, CameraThatDeniesThePrivilegeReadIsAlreadyOpened) {
    m_peer.SetScript([](const Command& c, std::vector<Reply>& replies) {
        if (c.code() != 0x0080 || c.firstAddress() != kCcp) return false;
        replies.push_back(Reply{AckHeader(0x8006, 0x0081, 0, c.requestId()), 0});
        return true;
    });
    EXPECT_EQ(Open(kAccessModeExclusive), kGevOpenedByOther);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Device already opened."));
    EXPECT_EQ(GEVReadRegister(1, 0, 1, nullptr), kGevHandleNotOpen) << "the slot is free again";
}

TEST_F(DeviceConnection, CameraHeldWithControlByAnotherRefusesThePrivilegeWrite) {
    m_peer.SetRegister(kCcp, 2);
    m_peer.SetScript([](const Command& c, std::vector<Reply>& replies) {
        if (c.code() != 0x0082 || c.firstAddress() != kCcp) return false;
        replies.push_back(Reply{AckHeader(0x8006, 0x0083, 0, c.requestId()), 0});
        return true;
    });
    EXPECT_EQ(Open(kAccessModeControl), kGevStatusAccessDenied);
    EXPECT_EQ(GEVReadRegister(1, 0, 1, nullptr), kGevHandleNotOpen);
}

TEST_F(DeviceConnection, HeartbeatReadsThePrivilegeEveryThirdOfTheTimeout) {
    m_peer.SetRegister(0x0938, 900);
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    std::this_thread::sleep_for(1500ms);
    size_t reads = CcpReads(m_peer);
    EXPECT_GE(reads, 4u);
    EXPECT_LE(reads, 7u);
    std::vector<Command> beats;
    for (const Command& c : m_peer.Received(0x0080))
        if (c.firstAddress() == kCcp) beats.push_back(c);
    for (size_t i = 1; i < beats.size(); ++i)
        EXPECT_GE(
            std::chrono::duration_cast<std::chrono::milliseconds>(beats[i].at - beats[i - 1].at)
                .count(),
            280);
}

TEST_F(DeviceConnection, SetHeartbeatRateRaisesTooSmallValuesAndWakesTheThread) {
    m_peer.SetRegister(0x0938, 60000);
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    ASSERT_EQ(GEVSetHeartbeatRate(1, 100), kGevOk);
    EXPECT_EQ(m_peer.Register(0x0938), 500u);
    EXPECT_EQ(SlotOf(1)->record.heartbeatPeriod.load(), 166u);
    uint32_t timeout = 0;
    ASSERT_EQ(GEVGetHeartbeatRate(1, &timeout), kGevOk);
    EXPECT_EQ(timeout, 500u);
    // Woken out of its 20 s wait, the thread now beats every 166 ms.
    EXPECT_TRUE(WaitFor([&] { return CcpReads(m_peer) >= 3; }, 2s));
}

TEST_F(DeviceConnection, SilentCameraIsGivenUpOnceItsHeartbeatTimeOutPassed) {
    // A period of 1 s; a failed beat (three attempts) takes 600 ms.
    m_peer.SetRegister(0x0938, 3000);
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    g_lostCalls = 0;
    ASSERT_EQ(GEVSetLostHandler(1, &OnLost), kGevOk);
    std::atomic<bool> silent{true};
    SilenceWhile(silent);
    ASSERT_TRUE(WaitFor([] { return g_lostCalls > 0; }, 10s));
    EXPECT_TRUE(GEVIsDeviceLost(1));
    EXPECT_EQ(g_lostHandle.load(), 1u);
    EXPECT_TRUE(g_lostSeenAsLost) << "the handler ran before the loss could be read";
    EXPECT_EQ(LogCapture::Count("[WARNING] -CCP lost."), 1u);
    EXPECT_TRUE(LogCapture::Contains("[ERROR] -CCP connection failure"));

    m_peer.ClearReceived();
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, 0x0938, 1, &value), kGevStatusAccessDenied);
    EXPECT_EQ(GEVWriteRegister(1, 0x0938, 1, &value), kGevStatusAccessDenied);
    EXPECT_TRUE(m_peer.Received().empty()) << "a failed connection sends nothing";

    // A failed slot may be opened again: open closes it first.
    silent = false;
    EXPECT_EQ(Open(kAccessModeControl), kGevOk);
    EXPECT_EQ(SlotOf(1)->record.connectionState.load(), kConnected);
    // Told once; the reopened slot starts without the handler.
    EXPECT_EQ(g_lostCalls.load(), 1);
    EXPECT_EQ(SlotOf(1)->record.lostHandler.load(), nullptr);
}

TEST_F(DeviceConnection, CameraAnsweringAgainWithinItsHeartbeatTimeOutIsReconnected) {
    // A period of 1 s: one failed beat (600 ms) stays well within the 3 s time-out.
    m_peer.SetRegister(0x0938, 3000);
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    std::atomic<bool> silent{true};
    std::atomic<int> silentReads{0};
    m_peer.SetScript([&](const Command& c, std::vector<Reply>&) {
        if (!silent) return false;
        // One beat of three unanswered attempts.
        if (c.firstAddress() == kCcp && ++silentReads >= 3) silent = false;
        return true;
    });
    ASSERT_TRUE(WaitFor([] { return LogCapture::Contains("[INFO] -CCP reconnection."); }, 6s));
    EXPECT_TRUE(WaitFor([] { return SlotOf(1)->record.connectionState == kConnected; }, 2s));
    EXPECT_EQ(LogCapture::Count("[WARNING] -CCP lost."), 1u);
    EXPECT_FALSE(LogCapture::Contains("CCP connection failure"));
    EXPECT_FALSE(GEVIsDeviceLost(1));
}

TEST_F(DeviceConnection, PrivilegeIsTakenAgainAfterTheCameraRebooted) {
    FastHeartbeatWithMessageChannel();
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    const uint32_t messagePort = m_peer.Register(0x0B00);
    EXPECT_NE(messagePort, 0u);
    // Reboot: privilege and message channel registers are back to zero.
    m_peer.SetRegister(kCcp, 0);
    m_peer.SetRegister(0x0B00, 0);
    m_peer.SetRegister(0x0B10, 0);
    ASSERT_TRUE(WaitFor([&] { return m_peer.Register(kCcp) == 2; }, 2s));
    EXPECT_TRUE(WaitFor([&] { return m_peer.Register(0x0B00) == messagePort; }, 2s));
    EXPECT_EQ(m_peer.Register(0x0B10), 0x7F000001u) << "the host address, host order";
    EXPECT_TRUE(LogCapture::Contains("[WARNING] -CCP access lost. Access mode reset."));
}

TEST_F(DeviceConnection, AStreamChannelClosedWhileTheHeartbeatRepairsItStaysClosed) {
    constexpr uint32_t kScp = Bootstrap::kStreamPort, kScda = Bootstrap::kStreamDestination;
    FastHeartbeatWithMessageChannel();
    ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    ASSERT_EQ(GEVOpenStreamChannel(1, 0, 0, 0), kGevOk);
    ASSERT_NE(m_peer.Register(kScp), 0u);
    auto streamReads = [this] { return ReadsOf(m_peer, kScda) + ReadsOf(m_peer, kScp); };
    auto scpWrites = [this] {
        const std::vector<uint32_t> ports = WritesOf(m_peer, kScp);
        return ports.size() - std::count(ports.begin(), ports.end(), 0u);
    };
    const size_t readsBefore = streamReads();
    const size_t writesBefore = scpWrites();

    // A consumer closing the stream channel holds the stream lock throughout;
    // meanwhile the camera forgets our privilege, and the heartbeat takes it back.
    std::unique_lock<std::recursive_mutex> closing(SlotOf(1)->streamLock);
    m_peer.SetRegister(kCcp, 0);
    ASSERT_TRUE(WaitFor([&] { return m_peer.Register(kCcp) == 2; }, 5s));
    // The repair of the stream channel waits for the close instead of reading a
    // socket and a port that are going away.
    EXPECT_FALSE(WaitFor([&] { return streamReads() > readsBefore; }, 1s));
    EXPECT_EQ(GEVCloseStreamChannel(1), kGevOk);
    closing.unlock();

    // Two more beats: the repair has run by then, and found the channel closed.
    const size_t beats = CcpReads(m_peer);
    ASSERT_TRUE(WaitFor([&] { return CcpReads(m_peer) >= beats + 2; }, 5s));
    EXPECT_EQ(m_peer.Register(kScp), 0u) << "the camera would stream to a closed port";
    EXPECT_EQ(scpWrites(), writesBefore);
}

TEST_F(DeviceConnection, CloseStopsTheHeartbeatAndFreesTheSlot) {
    FastHeartbeatWithMessageChannel();
    ASSERT_EQ(Open(kAccessModeExclusive), kGevOk);
    EXPECT_EQ(m_peer.Register(kCcp), 1u);
    ASSERT_EQ(GEVClose(1), kGevOk);
    EXPECT_EQ(m_peer.Register(0x0B00), 0u);
    EXPECT_EQ(m_peer.Register(kCcp), 0u);
    m_peer.ClearReceived();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(CcpReads(m_peer), 0u);
    EXPECT_EQ(GEVClose(1), kGevHandleNotOpen);
}
