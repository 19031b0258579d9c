// What the data stream reports about the frames, through the built producer:
// the camera's time stamps, payload types and sizes as the leader says, the
// frame counters (delivered + underrun + lost = sent), a frame limit that a
// lost block does not stall, STREAM_INFO_IS_GRABBING, and failures returned.
#include <chrono>
#include <cstring>
#include <thread>

#include "GEVTLKRVInfo.h"
#include "GvcpWire.h"
#include "StreamFixture.h"
#include "StreamPayload.h"

using namespace GenTLTest;

namespace {

constexpr uint64_t kRegFindMaxPacketSize = 0x24;
constexpr uint64_t kRegUseUserBuffer = 0x224;
constexpr uint32_t kStreamPacketSizeRegister = 0x0D04;

class StreamReports : public StreamTest {
protected:
    uint64_t Counter(STREAM_INFO_CMD command) { return StreamInfo<uint64_t>(command); }
    bool Grabbing() { return StreamInfo<bool8_t>(STREAM_INFO_IS_GRABBING) != 0; }
};

uint64_t BigEndian64(const uint8_t* at) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | at[i];
    return value;
}

}  // namespace

// The camera's 64-bit time stamp, and in nanoseconds by its tick frequency (the
// simulator counts at 1 GHz); the block-info chunk carries the same stamp.
TEST_F(StreamReports, TimeStampsAreTheCamerasOwn) {
    GevSim::CameraConfig config = SimulatorConfig(64, 48);
    config.payloadType = 0x4001;
    OpenSimulator(config);
    std::vector<BUFFER_HANDLE> buffers = Announce(4, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    uint64_t last = 0;
    for (int i = 0; i < 5; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        const uint64_t stamp = BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_TIMESTAMP);
        EXPECT_EQ(BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_TIMESTAMP_NS), stamp);
        EXPECT_GT(stamp, last);
        last = stamp;
        // The block-info chunk sits before the last tag: block ID, then time stamp.
        const uint8_t* base = BufferInfo<uint8_t*>(delivery.buffer, BUFFER_INFO_BASE);
        const size_t chunks =
            BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE);
        ASSERT_GE(chunks, 24u);
        EXPECT_EQ(BigEndian64(base + chunks - 16), stamp);
        EXPECT_EQ(BigEndian64(base + chunks - 24),
                  BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_FRAMEID));
        ASSERT_EQ(cti.DSQueueBuffer(stream, delivery.buffer), GC_ERR_SUCCESS);
    }
    StopAndRelease(buffers);
}

// Each payload type is reported as the leader says, complete, with the bytes the
// camera sent (SIZE_FILLED), in copy and zero-copy delivery alike.
class PayloadTypes : public StreamReports,
                     public ::testing::WithParamInterface<std::tuple<uint16_t, bool>> {};

TEST_P(PayloadTypes, AreDeliveredWholeWithTheirSize) {
    const uint16_t type = std::get<0>(GetParam());
    const bool zeroCopy = std::get<1>(GetParam());
    GevSim::CameraConfig config = SimulatorConfig(64, 48, 100.0f);
    config.payloadType = type;
    OpenSimulator(config);
    WriteStreamRegister(kRegUseUserBuffer, zeroCopy ? 1 : 0);
    GevSim::StreamFormat format;
    format.payloadType = type;
    format.width = 64;
    format.height = 48;
    std::vector<BUFFER_HANDLE> buffers = Announce(4, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    const uint64_t expectedType = type == 0x0002   ? PAYLOAD_TYPE_RAW_DATA
                                  : type == 0x0006 ? PAYLOAD_TYPE_JPEG
                                  : type == 0x0004 ? PAYLOAD_TYPE_CHUNK_ONLY
                                  : type == 0x000A ? PAYLOAD_TYPE_MULTI_PART
                                  : type == 0x000B ? PAYLOAD_TYPE_GENDC
                                  : type == 0x4001 ? PAYLOAD_TYPE_CHUNK_DATA
                                                   : PAYLOAD_TYPE_IMAGE;
    for (int i = 0; i < 4; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        BUFFER_HANDLE buffer = delivery.buffer;
        const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
        EXPECT_FALSE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE)) << "frame " << frame;
        EXPECT_FALSE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_PAYLOADTYPE), expectedType);
        // What the camera sent for this block, its time stamp included (block-info
        // chunks and GenDC descriptors carry it).
        const uint64_t stamp = BufferInfo<uint64_t>(buffer, BUFFER_INFO_TIMESTAMP);
        const GevSim::BlockContent sent = GevSim::StreamPayload::Build(format, frame, stamp, 0);
        const size_t filled = BufferInfo<size_t>(buffer, BUFFER_INFO_SIZE_FILLED);
        EXPECT_EQ(filled, sent.payload.size()) << "the bytes this block carried";
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_DATA_SIZE), sent.payload.size());
        const uint8_t* base = BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE);
        ASSERT_LE(sent.payload.size(), BufferInfo<size_t>(buffer, BUFFER_INFO_SIZE));
        EXPECT_EQ(std::memcmp(base, sent.payload.data(), sent.payload.size()), 0)
            << "frame " << frame;
        if (expectedType == PAYLOAD_TYPE_IMAGE) {
            EXPECT_EQ(BufferInfo<uint64_t>(buffer, BUFFER_INFO_PIXELFORMAT_NAMESPACE),
                      uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
            EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_WIDTH), 64u);
        } else if (expectedType != PAYLOAD_TYPE_CHUNK_DATA) {
            EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_WIDTH), 0u) << "no image, no width";
        }
        ASSERT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    }
    StopAndRelease(buffers);
}

INSTANTIATE_TEST_SUITE_P(EveryType, PayloadTypes,
                         ::testing::Combine(::testing::Values(0x0001, 0x4001, 0x0002, 0x0004,
                                                              0x0006, 0x000A, 0x000B),
                                            ::testing::Bool()));

// Frames that find no buffer are counted once each as underruns; with the camera
// stopped and every block seen, delivered + underrun + lost = blocks sent.
TEST_F(StreamReports, EveryFrameSentIsDeliveredOrCounted) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    std::vector<BUFFER_HANDLE> buffers = Announce(1, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    const uint64_t before = Simulator().StreamStats().blocksSent;
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    ASSERT_TRUE(Await([&] { return Simulator().StreamStats().blocksSent >= before + 30; }));
    CameraApi().Execute("AcquisitionStop");
    const uint64_t sent = Simulator().StreamStats().blocksSent - before;
    ASSERT_TRUE(Await([&] {
        return Counter(STREAM_INFO_NUM_STARTED) + Counter(STREAM_INFO_NUM_UNDERRUN) +
                   Counter(STREAM_INFO_GEVTLKRV_LOST_FRAMES) >=
               sent;
    })) << "the producer has not seen every block";
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    const uint64_t delivered = Counter(STREAM_INFO_NUM_DELIVERED);
    const uint64_t underrun = Counter(STREAM_INFO_NUM_UNDERRUN);
    const uint64_t lost = Counter(STREAM_INFO_GEVTLKRV_LOST_FRAMES);
    EXPECT_EQ(delivered, 1u) << "one buffer, never given back";
    EXPECT_EQ(delivered + underrun + lost, sent);
    EXPECT_GE(underrun, sent - 5) << "at most the ring's frames wait inside";
    StopAndReleaseIdle(buffers);
}

// A block lost on the way does not count as a frame acquired: the frames asked
// for all arrive, and then the acquisition ends by itself.
TEST_F(StreamReports, AFrameLimitIsReachedAcrossALostBlock) {
    OpenSimulator(SimulatorConfig(64, 48, 100.0f));
    std::vector<BUFFER_HANDLE> buffers = Announce(8, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream(5);
    EXPECT_TRUE(Grabbing());
    CameraApi().Execute("AcquisitionStart");
    Delivery first = Next();
    ASSERT_EQ(first.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    Simulator().faults().Stream().SkipBlockIds(1);  // one block ID never comes
    uint64_t last = BufferInfo<uint64_t>(first.buffer, BUFFER_INFO_FRAMEID);
    for (int i = 1; i < 5; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << "frame " << i << ": " << cti.LastErrorText();
        const uint64_t frame = BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_FRAMEID);
        EXPECT_GT(frame, last);
        last = frame;
    }
    EXPECT_TRUE(Await([&] { return !Grabbing(); })) << "the acquisition ends by itself";
    EXPECT_EQ(Next(300).result, GC_ERR_TIMEOUT) << "five frames, no more";
    EXPECT_EQ(Counter(STREAM_INFO_NUM_DELIVERED), 5u);
    CameraApi().Execute("AcquisitionStop");
    EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    StopAndReleaseIdle(buffers);
}

// A start on another thread waits for a packet size search under way: the search
// drains the stream socket and rewrites the packet size, which a running
// receiver must not see.
TEST_F(StreamReports, AStartWaitsForAPacketSizeSearchUnderWay) {
    OpenSimulator(SimulatorConfig(64, 48));
    std::vector<BUFFER_HANDLE> buffers = Announce(2, PayloadSize(), false);
    QueueAll(buffers);
    // Every exchange slowed, so that the search lasts long enough to start in.
    Simulator().faults().SetAckDelay(std::chrono::milliseconds(20));
    Simulator().ClearReceivedCommands();
    auto probesSince = [&](std::chrono::steady_clock::time_point since) {
        size_t probes = 0;
        for (const GevSim::ReceivedCommand& c : Simulator().ReceivedCommands())
            if (c.command == GevSim::Gvcp::kWriteRegCmd && c.address == kStreamPacketSizeRegister &&
                c.time > since)
                ++probes;
        return probes;
    };
    GC_ERROR searched = GC_ERR_ERROR;
    std::thread search([&] {
        uint32_t value = 1;
        size_t size = sizeof value;
        searched = cti.GCWritePort(stream, kRegFindMaxPacketSize, &value, &size);
    });
    const bool underWay =
        WaitFor([&] { return probesSince(std::chrono::steady_clock::time_point{}) > 0; });
    if (underWay) StartStream();
    const auto started = std::chrono::steady_clock::now();
    search.join();
    Simulator().faults().SetAckDelay(std::chrono::milliseconds(0));
    ASSERT_TRUE(underWay);
    EXPECT_EQ(searched, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(probesSince(started), 0u) << "the search went on under a running receiver";
    EXPECT_TRUE(Grabbing());
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
}

TEST_F(StreamReports, GrabbingFromTheStartsReturnAndFailuresAreReturned) {
    OpenSimulator(SimulatorConfig(64, 48));
    std::vector<BUFFER_HANDLE> buffers = Announce(2, PayloadSize(), false);
    QueueAll(buffers);
    for (int i = 0; i < 20; ++i) {
        StartStream();
        ASSERT_TRUE(Grabbing()) << "start " << i;
        ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
        ASSERT_FALSE(Grabbing());
    }
    // The packet size search would drain the stream socket under a running receiver.
    StartStream();
    uint32_t value = 1;
    size_t size = sizeof value;
    EXPECT_EQ(cti.GCWritePort(stream, kRegFindMaxPacketSize, &value, &size), GC_ERR_BUSY);
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);

    // The camera refuses the read of its packet size: the start fails, and says so.
    Simulator().faults().FailCommands(1, 0x8006, kStreamPacketSizeRegister);
    EXPECT_NE(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    EXPECT_NE(cti.LastErrorText().find("GEVAcquisitionStartEx"), std::string::npos)
        << cti.LastErrorText();
    EXPECT_FALSE(Grabbing());
    EXPECT_NE(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS)
        << "nothing was started";
    StartStream();
    EXPECT_TRUE(Grabbing());
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    StopAndReleaseIdle(buffers);
}
