// The message channel: event messages from an open camera are acknowledged
// when asked, logged, and handed to the device's handler with their fields.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "DebugOutput.h"
#include "DeviceTable.h"
#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;
using TestSockets::WaitFor;
using namespace std::chrono_literals;

namespace {

struct Delivered {
    uint8_t handle;
    uint16_t eventId;
    uint16_t streamChannel;
    uint64_t blockId;
    uint64_t timestamp;
    Bytes data;
};

std::mutex g_deliveredLock;
std::vector<Delivered> g_delivered;

void Handler(uint8_t handle, const GevMessageEvent* event) {
    std::lock_guard<std::mutex> guard(g_deliveredLock);
    g_delivered.push_back(Delivered{handle, event->eventId, event->streamChannel, event->blockId,
                                    event->timestamp,
                                    Bytes(event->data, event->data + event->dataLength)});
}

std::vector<Delivered> DeliveredEvents() {
    std::lock_guard<std::mutex> guard(g_deliveredLock);
    return g_delivered;
}

Bytes EventCommand(uint8_t flags, uint16_t command, uint16_t requestId, uint16_t eventId,
                   bool extended, uint64_t blockId, uint64_t timestamp, const Bytes& data = {}) {
    Bytes b{0x42, flags};
    Put16(b, command);
    Put16(b, static_cast<uint16_t>((extended ? 24 : 16) + data.size()));
    Put16(b, requestId);
    // With 64-bit ids the first field is the event's size, data included.
    Put16(b, extended ? static_cast<uint16_t>(24 + data.size()) : 0);
    Put16(b, eventId);
    Put16(b, 0x0001);  // stream channel index
    if (extended) {
        Put16(b, 0);
        Put32(b, static_cast<uint32_t>(blockId >> 32));
        Put32(b, static_cast<uint32_t>(blockId));
    } else {
        Put16(b, static_cast<uint16_t>(blockId));
    }
    Put32(b, static_cast<uint32_t>(timestamp >> 32));
    Put32(b, static_cast<uint32_t>(timestamp));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

class MessageChannelTest : public ScriptedCameraTest {
protected:
    void SetUp() override {
        ScriptedCameraTest::SetUp();
        {
            std::lock_guard<std::mutex> guard(g_deliveredLock);
            g_delivered.clear();
        }
        Platform::SetDebugOutputCapture([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(m_debugLock);
            m_debug.push_back(text);
        });
        m_peer.SetRegister(0x0900, 1);
        m_peer.SetRegister(0x0934, 0x0000001F);
        m_peer.SetRegister(0x0938, 60000);
        ASSERT_EQ(Open(kAccessModeControl), kGevOk);
        m_messagePort = static_cast<uint16_t>(m_peer.Register(0x0B00));
        ASSERT_NE(m_messagePort, 0);
        ASSERT_EQ(GEVSetMessageHandler(1, &Handler), kGevOk);
    }
    void TearDown() override {
        ScriptedCameraTest::TearDown();
        Platform::SetDebugOutputCapture(nullptr);
    }
    void Send(const Bytes& datagram) { m_peer.SendTo(datagram, Ip("127.0.0.1"), m_messagePort); }
    bool DebugContains(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_debugLock);
        for (const std::string& text : m_debug)
            if (text == line) return true;
        return false;
    }

    uint16_t m_messagePort = 0;
    std::mutex m_debugLock;
    std::vector<std::string> m_debug;
};

}  // namespace

TEST_F(MessageChannelTest, OpenPointsTheCameraAtTheHostsMessagePort) {
    EXPECT_EQ(m_peer.Register(0x0B10), 0x7F000001u);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Message channel is available."));
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Open message channel port."));
}

TEST_F(MessageChannelTest, AcknowledgedEventIsLoggedAndDelivered) {
    Send(EventCommand(0x01, 0x00C0, 7, 0x0003, false, 0x1234, 0x0102030405060708ull));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 1; }));
    Delivered event = DeliveredEvents()[0];
    EXPECT_EQ(event.handle, 1);
    EXPECT_EQ(event.eventId, 3);
    EXPECT_EQ(event.blockId, 0x1234u);
    EXPECT_EQ(event.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(event.streamChannel, 0x0100) << "the wire bytes, unconverted";
    EXPECT_TRUE(event.data.empty());
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 ->  (ack) start of exposure\r\n"));
}

TEST_F(MessageChannelTest, AcknowledgeCarriesTheRequestId) {
    // The acknowledge goes back to whichever socket of the camera sent the event.
    int raw = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(TestSockets::Bind(raw, "127.0.0.2", 0));
    TestSockets::SendTo(raw, EventCommand(0x01, 0x00C0, 7, 0x0003, false, 1, 2), Ip("127.0.0.1"),
                        m_messagePort);
    ASSERT_TRUE(TestSockets::Readable(raw, 2000));
    uint8_t ack[16];
    ASSERT_EQ(::recv(raw, ack, sizeof ack, 0), 8);
    EXPECT_EQ(Bytes(ack, ack + 8), (Bytes{0x00, 0x00, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x07}));
    ::close(raw);

    Send(EventCommand(0x00, 0x00C0, 8, 0x0004, false, 1, 2));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 2; }));
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 ->  end of exposure\r\n"))
        << "no acknowledge asked, no (ack)";
}

TEST_F(MessageChannelTest, ExtendedEventDataCarriesA64BitBlockIdAndItsPayload) {
    Bytes payload(16);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
    Send(EventCommand(0x10, 0x00C2, 9, 0x9001, true, 0x0000000100000002ull, 99, payload));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 1; }));
    Delivered event = DeliveredEvents()[0];
    EXPECT_EQ(event.blockId, 0x0000000100000002ull);
    EXPECT_EQ(event.timestamp, 99u);
    EXPECT_EQ(event.data, payload);
    EXPECT_TRUE(DebugContains(
        "[INFO] -Message Channel Device 1 ->  device-specific event: 0x9001, req_Id: 9\r\n"));
}

TEST_F(MessageChannelTest, EventIdRangesHaveTheirOwnLines) {
    Send(EventCommand(0x00, 0x00C0, 1, 0x8001, false, 0, 0));
    Send(EventCommand(0x00, 0x00C0, 2, 0x0002, false, 0, 0));
    Send(EventCommand(0x00, 0x00C0, 3, 0x0000, false, 0, 0));
    Send(EventCommand(0x00, 0x00C0, 4, 0x0010, false, 0, 0));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 4; }));
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 ->  error event\r\n"));
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 -> trigger event\r\n"));
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 ->  unknown event\r\n"));
    EXPECT_TRUE(DebugContains("[INFO] -Message Channel Device 1 ->  reserved event\r\n"));
}

TEST_F(MessageChannelTest, BadDatagramsAreDroppedAndDeliveryGoesOn) {
    Send(Bytes{0x41, 0x01, 0x00, 0xC0, 0x00, 0x10, 0x00, 0x01});        // not GVCP
    Send(Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00, 0x02});        // not an event
    Send(Bytes{0x42, 0x00, 0x00, 0xC2, 0xFF, 0xFF, 0x00, 0x03, 0, 0});  // truncated
    Bytes lying = EventCommand(0x00, 0x00C2, 4, 0x9002, false, 0, 0, Bytes(4, 0xEE));
    lying[4] = 0x02;  // claims 512 bytes of data, carries 4
    Send(lying);
    Send(Bytes{0x42, 0x01, 0x00});  // runt
    Send(EventCommand(0x00, 0x00C0, 5, 0x0005, false, 0, 0));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 2; }));
    EXPECT_EQ(DeliveredEvents()[0].data, Bytes(4, 0xEE)) << "data cut to what arrived";
    EXPECT_EQ(DeliveredEvents()[1].eventId, 5);
}

TEST_F(MessageChannelTest, DatagramsFromUnknownSendersAreIgnored) {
    int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(TestSockets::Bind(stranger, "127.0.0.3", 0));
    TestSockets::SendTo(stranger, EventCommand(0x01, 0x00C0, 1, 0x0003, false, 0, 0),
                        Ip("127.0.0.1"), m_messagePort);
    EXPECT_FALSE(TestSockets::Readable(stranger, 300)) << "no acknowledge to a stranger";
    ::close(stranger);
    Send(EventCommand(0x00, 0x00C0, 2, 0x0006, false, 0, 0));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 1; }));
    EXPECT_EQ(DeliveredEvents()[0].eventId, 6);
}

TEST_F(MessageChannelTest, AnEventThatCannotBeAcknowledgedStopsNoOtherEvent) {
    // From the camera's address but source port 0, where no acknowledge can go:
    // a UDP header of our own on a raw socket.
    int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    ASSERT_GE(raw, 0) << "raw sockets need the namespace's root";
    ASSERT_TRUE(TestSockets::Bind(raw, "127.0.0.2", 0));
    const Bytes event = EventCommand(0x01, 0x00C0, 9, 0x0003, false, 0, 0);
    Bytes datagram;
    Put16(datagram, 0);  // source port
    Put16(datagram, m_messagePort);
    Put16(datagram, static_cast<uint16_t>(8 + event.size()));
    Put16(datagram, 0);  // no checksum
    datagram.insert(datagram.end(), event.begin(), event.end());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ip("127.0.0.1");
    ASSERT_EQ(::sendto(raw, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              static_cast<ssize_t>(datagram.size()));
    ::close(raw);
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 1; }));
    Send(EventCommand(0x00, 0x00C0, 10, 0x0006, false, 0, 0));
    ASSERT_TRUE(WaitFor([] { return DeliveredEvents().size() == 2; }))
        << "the message thread ended";
    EXPECT_EQ(DeliveredEvents()[1].eventId, 6);
}

TEST_F(MessageChannelTest, NoHandlerCallAfterClose) {
    ASSERT_EQ(GEVClose(1), kGevOk);
    Send(EventCommand(0x00, 0x00C0, 1, 0x0003, false, 0, 0));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(DeliveredEvents().empty());
}
