// GVCP register and memory access against a scripted camera: request ids,
// retries of a silent camera, PENDING_ACK, stale acknowledges, camera
// statuses, memory chunking and the access mode that skips writes.
#include <gtest/gtest.h>

#include <thread>

#include "DeviceTable.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;

namespace {

constexpr uint32_t kUserRegister = 0x00010000;

std::vector<Command> CommandsAt(ScriptedPeer& peer, uint16_t code, uint32_t address) {
    std::vector<Command> matching;
    for (const Command& c : peer.Received(code))
        if (c.firstAddress() == address) matching.push_back(c);
    return matching;
}

class RegisterAccess : public ScriptedCameraTest {
protected:
    void SetUp() override {
        ScriptedCameraTest::SetUp();
        // A long heartbeat keeps CCP reads out of the way after the first one.
        m_peer.SetRegister(0x0938, 60000);
        ASSERT_EQ(Open(kAccessModeControl), kGevOk);
    }
};

}  // namespace

TEST_F(RegisterAccess, ReadsRegistersInHostOrderWithWireExactCommand) {
    m_peer.SetRegister(kUserRegister, 0x11223344);
    m_peer.SetRegister(kUserRegister + 4, 0xA5A5A5A5);
    uint32_t values[2] = {};
    ASSERT_EQ(GEVReadRegister(1, kUserRegister, 2, values), kGevOk);
    EXPECT_EQ(values[0], 0x11223344u);
    EXPECT_EQ(values[1], 0xA5A5A5A5u);

    auto sent = CommandsAt(m_peer, 0x0080, kUserRegister);
    ASSERT_EQ(sent.size(), 1u);
    const Bytes& b = sent[0].bytes;
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(b[0], 0x42);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(Be16(&b[4]), 8);
    EXPECT_EQ(Be32(&b[12]), kUserRegister + 4);
}

TEST_F(RegisterAccess, RequestIdsCountUpAndWrapFrom65535ToOne) {
    {
        // Held across the three reads (the lock is recursive): the heartbeat
        // cannot take an id between them, however the threads are scheduled.
        std::lock_guard<std::recursive_mutex> guard(SlotOf(1)->controlLock);
        SlotOf(1)->record.requestId = 65534;
        uint32_t value = 0;
        for (int i = 0; i < 3; ++i) ASSERT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevOk);
    }
    auto sent = CommandsAt(m_peer, 0x0080, kUserRegister);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].requestId(), 65534);
    EXPECT_EQ(sent[1].requestId(), 65535);
    EXPECT_EQ(sent[2].requestId(), 1);
}

TEST_F(RegisterAccess, SilentCameraGetsThreeIdenticalCommandsThenTimeout) {
    m_peer.SetScript([](const Command& c, std::vector<Reply>&) {
        return c.firstAddress() == kUserRegister;  // swallow, answer nothing
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevTimeout);
    auto sent = CommandsAt(m_peer, 0x0080, kUserRegister);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].requestId(), sent[2].requestId());
    for (size_t i = 1; i < sent.size(); ++i) {
        auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(sent[i].at - sent[i - 1].at);
        EXPECT_GE(gap.count(), 190) << "attempts are one command timeout apart";
    }
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Read Register: No acknowledge header available"));
    EXPECT_TRUE(LogCapture::Contains("[ERROR] -ReadRegister[0x00010000] Status: C008"));
}

TEST_F(RegisterAccess, PendingAckExtendsTheWaitWithoutResending) {
    m_peer.SetRegister(kUserRegister, 77);
    m_peer.SetScript([this](const Command& c, std::vector<Reply>& replies) {
        if (c.firstAddress() != kUserRegister) return false;
        Bytes pending = AckHeader(0, 0x0089, 4, c.requestId());
        Put16(pending, 0);
        Put16(pending, 500);
        replies.push_back(Reply{pending, 0});
        // Later than the 200 ms command timeout, within the announced 500 ms.
        Reply late = m_peer.ModelAnswer(c).front();
        late.delayMs = 400;
        replies.push_back(late);
        return true;
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevOk);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(CommandsAt(m_peer, 0x0080, kUserRegister).size(), 1u);
    EXPECT_TRUE(LogCapture::Contains(
        "[INFO] -ReadRegister[0x00010000]: Pending acknowledge. Wait 500 msec"));
    EXPECT_FALSE(SlotOf(1)->record.pendingAck.load()) << "cleared after the read";
}

TEST_F(RegisterAccess, StaleAcknowledgeIsSkipped) {
    m_peer.SetRegister(kUserRegister, 5);
    m_peer.SetScript([this](const Command& c, std::vector<Reply>& replies) {
        if (c.firstAddress() != kUserRegister) return false;
        Bytes stale = AckHeader(0, 0x0081, 4, static_cast<uint16_t>(c.requestId() - 1));
        Put32(stale, 0xDEADBEEF);
        replies.push_back(Reply{stale, 0});
        replies.push_back(m_peer.ModelAnswer(c).front());
        return true;
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevOk);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(CommandsAt(m_peer, 0x0080, kUserRegister).size(), 1u);
}

TEST_F(RegisterAccess, CameraStatusEndsTheExchangeAtOnce) {
    m_peer.SetScript([](const Command& c, std::vector<Reply>& replies) {
        if (c.firstAddress() != kUserRegister) return false;
        replies.push_back(Reply{AckHeader(0x8003, c.code() + 1, 0, c.requestId()), 0});
        return true;
    });
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 1, &value), kGevStatusInvalidAddress);
    EXPECT_EQ(GEVWriteRegister(1, kUserRegister, 1, &value), kGevStatusInvalidAddress);
    EXPECT_EQ(CommandsAt(m_peer, 0x0080, kUserRegister).size(), 1u);
    EXPECT_EQ(CommandsAt(m_peer, 0x0082, kUserRegister).size(), 1u);
    EXPECT_TRUE(LogCapture::Contains("[ERROR] -WriteRegister[0x00010000] Status: 8003"));
}

TEST_F(RegisterAccess, AcknowledgesThatDoNotHoldWhatWasAskedAreRefused) {
    m_peer.SetScript([](const Command& c, std::vector<Reply>& replies) {
        if (c.firstAddress() != kUserRegister) return false;
        if (c.code() == 0x0080) {
            // Claims 400 values, carries one: nothing past it may be copied.
            Bytes ack = AckHeader(0, 0x0081, 1600, c.requestId());
            Put32(ack, 1);
            replies.push_back(Reply{ack, 0});
        } else if (c.code() == 0x0084) {
            Bytes ack = AckHeader(0, 0x0085, 12, c.requestId());
            Put32(ack, kUserRegister);
            Put32(ack, 0x01020304);  // 4 of the 16 bytes asked for
            replies.push_back(Reply{ack, 0});
        } else if (c.code() == 0x0082) {
            replies.push_back(Reply{AckHeader(0, 0x0085, 4, c.requestId()), 0});
        }
        return true;
    });
    uint32_t values[2] = {0, 0x5555};
    EXPECT_EQ(GEVReadRegister(1, kUserRegister, 2, values), kGevUnexpectedAck);
    EXPECT_EQ(values[1], 0x5555u);
    uint8_t memory[16];
    EXPECT_EQ(GEVReadMemory(1, kUserRegister, sizeof memory, memory), kGevUnexpectedAck);
    EXPECT_EQ(GEVWriteRegister(1, kUserRegister, 1, values), kGevUnexpectedAck);
}

TEST_F(RegisterAccess, MemoryIsReadInChunksOf536FromTheAlignedAddress) {
    Bytes content(1100);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);
    m_peer.SetMemory(0x10000, content);
    std::vector<uint8_t> buffer(1000);
    ASSERT_EQ(GEVReadMemory(1, 0x10001, 1000, buffer.data()), kGevOk);
    auto sent = m_peer.Received(0x0084);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].firstAddress(), 0x10000u);
    EXPECT_EQ(Be16(&sent[0].bytes[14]), 536);
    EXPECT_EQ(sent[1].firstAddress(), 0x10218u);
    EXPECT_EQ(Be16(&sent[1].bytes[14]), 464);
    EXPECT_NE(sent[0].requestId(), sent[1].requestId());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Bytes(content.begin(), content.begin() + 1000));
}

TEST_F(RegisterAccess, MemoryWriteNeedsTheCapabilityAndPadsTheLastChunk) {
    std::vector<uint8_t> data(538, 0xAB);
    m_peer.SetRegister(0x0934, 0);
    EXPECT_EQ(GEVWriteMemory(1, 0x20000, 538, data.data()), kGevNotSupported);
    EXPECT_TRUE(m_peer.Received(0x0086).empty());

    m_peer.SetRegister(0x0934, 0x2);
    m_peer.SetMemory(0x2021A, Bytes{0xEE, 0xEE});
    ASSERT_EQ(GEVWriteMemory(1, 0x20000, 538, data.data()), kGevOk);
    auto sent = m_peer.Received(0x0086);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Be16(&sent[0].bytes[4]), 4 + 536);
    EXPECT_EQ(Be16(&sent[1].bytes[4]), 4 + 4);
    EXPECT_EQ(m_peer.MemoryByte(0x20219), 0xAB);
    EXPECT_EQ(m_peer.MemoryByte(0x2021A), 0x00) << "the rounded tail is written as zeros";
}

TEST_F(RegisterAccess, ChannelParametersLimitThePeriodToTheCameraTimeout) {
    m_peer.SetRegister(0x0938, 3000);
    GevChannelParameters parameters{};
    ASSERT_EQ(GEVGetChannelParameter(1, &parameters), kGevOk);
    EXPECT_EQ(parameters.commandTimeout, 200u);
    EXPECT_EQ(parameters.retryCount, 3);
    EXPECT_EQ(parameters.resendCount, 10);
    parameters.heartbeatPeriod = 5000;
    parameters.commandTimeout = 1500;
    ASSERT_EQ(GEVSetChannelParameter(1, &parameters), kGevOk);
    ASSERT_EQ(GEVGetChannelParameter(1, &parameters), kGevOk);
    EXPECT_EQ(parameters.heartbeatPeriod, 2800u);
    EXPECT_EQ(SlotOf(1)->record.timeoutSeconds, 1u);
    EXPECT_EQ(SlotOf(1)->record.timeoutMicroseconds, 500000u);
}

TEST_F(ScriptedCameraTest, OpenAccessSkipsEveryWrite) {
    ASSERT_EQ(Open(kAccessModeOpen), kGevOk);
    uint32_t value = 9;
    uint8_t data[8] = {};
    EXPECT_EQ(GEVWriteRegister(1, kUserRegister, 1, &value), kGevOk);
    EXPECT_EQ(GEVWriteMemory(1, 0x20000, sizeof data, data), kGevOk);
    EXPECT_TRUE(m_peer.Received(0x0082).empty());
    EXPECT_TRUE(m_peer.Received(0x0086).empty());
    EXPECT_TRUE(m_peer.Received(0x0080).empty()) << "not even the capability is read";
}

TEST(RegisterAccessWithoutDevice, EveryOperationOnAFreeSlotAnswersHandleNotOpen) {
    uint32_t value = 0;
    uint8_t data[4] = {};
    GevChannelParameters parameters{};
    for (uint8_t handle : {uint8_t{0}, uint8_t{1}, uint8_t{50}, uint8_t{51}}) {
        EXPECT_EQ(GEVReadRegister(handle, 0, 1, &value), kGevHandleNotOpen);
        EXPECT_EQ(GEVWriteRegister(handle, 0, 1, &value), kGevHandleNotOpen);
        EXPECT_EQ(GEVReadMemory(handle, 0, 4, data), kGevHandleNotOpen);
        EXPECT_EQ(GEVWriteMemory(handle, 0, 4, data), kGevHandleNotOpen);
        EXPECT_EQ(GEVGetChannelParameter(handle, &parameters), kGevHandleNotOpen);
        EXPECT_EQ(GEVSetChannelParameter(handle, &parameters), kGevHandleNotOpen);
        EXPECT_EQ(GEVGetHeartbeatRate(handle, &value), kGevHandleNotOpen);
        EXPECT_EQ(GEVSetHeartbeatRate(handle, 1000), kGevHandleNotOpen);
        EXPECT_EQ(GEVSetMessageHandler(handle, nullptr), kGevHandleNotOpen);
        EXPECT_EQ(GEVClose(handle), kGevHandleNotOpen);
    }
}
