// The consumer loop through the built producer against the simulator: copy
// and zero-copy delivery, frame counts, buffer sizes, kills and underruns.
#include <set>

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr size_t kBuffers = 4;

class Acquisition : public StreamTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
    }
    // The parameter: buffers of the consumer's memory written straight by the receiver.
    bool ZeroCopy() const { return GetParam(); }
};

}  // namespace

TEST_P(Acquisition, DeliversCompleteTestPatternFramesAndRequeues) {
    if (ZeroCopy()) WriteStreamRegister(0x224, 1);
    const size_t payload = PayloadSize();
    ASSERT_EQ(payload, 64u * 48u);
    // Half the buffers in the producer's memory, half in ours.
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers / 2, payload, false);
    for (BUFFER_HANDLE b : Announce(kBuffers / 2, payload, true)) buffers.push_back(b);
    QueueAll(buffers);
    RegisterNewBuffer();
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), kBuffers);
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    CameraApi().Execute("AcquisitionStart");

    uint64_t lastFrame = 0;
    for (int i = 0; i < 30; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << "frame " << i << ": " << cti.LastErrorText();
        BUFFER_HANDLE buffer = delivery.buffer;
        EXPECT_EQ(delivery.privateData, BufferInfo<void*>(buffer, BUFFER_INFO_USER_PTR));
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_SIZE), payload);
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_WIDTH), 64u);
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_HEIGHT), 48u);
        EXPECT_EQ(BufferInfo<uint64_t>(buffer, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
        EXPECT_FALSE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE));
        EXPECT_TRUE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_NEW_DATA));
        EXPECT_FALSE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_QUEUED));
        EXPECT_NE(BufferInfo<uint64_t>(buffer, BUFFER_INFO_TIMESTAMP), 0u);
        const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
        EXPECT_GT(frame, lastFrame) << "frames in order";
        lastFrame = frame;
        EXPECT_TRUE(HoldsTestPattern(buffer));
        if (i == 0) {
            // The buffer's own description shows the same time stamp.
            auto bufferApi = GenApiBridge::GenApiPort::FromPort(buffer, Ports());
            EXPECT_EQ(static_cast<uint64_t>(bufferApi.GetInteger("TimestampReg")),
                      BufferInfo<uint64_t>(buffer, BUFFER_INFO_TIMESTAMP));
        }
        ASSERT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << cti.LastErrorText();
    }
    EXPECT_GE(StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED), 30u);
    EXPECT_TRUE(StreamInfo<bool8_t>(STREAM_INFO_IS_GRABBING));
    StopAndRelease(buffers);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_ANNOUNCED), 0u);
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS) << cti.LastErrorText();
}

TEST_P(Acquisition, StopsByItselfAfterTheFramesAskedFor) {
    if (ZeroCopy()) WriteStreamRegister(0x224, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 3), GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    std::set<BUFFER_HANDLE> delivered;
    for (int i = 0; i < 3; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        delivered.insert(delivery.buffer);
    }
    EXPECT_EQ(delivered.size(), 3u);
    EXPECT_EQ(Next(300).result, GC_ERR_TIMEOUT) << "no fourth frame";
    EXPECT_EQ(StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED), 3u);
    EXPECT_TRUE(WaitFor([&] { return !StreamInfo<bool8_t>(STREAM_INFO_IS_GRABBING); }));
    // Acquiring until stopped: a second start is refused.
    EXPECT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 3), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(cti.LastErrorText(), "Acquisition already started.");
    StopAndRelease(buffers);
}

TEST_P(Acquisition, KillAbortsAnInfiniteWaitAndTheNextWaitWorks) {
    if (ZeroCopy()) WriteStreamRegister(0x224, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, PayloadSize(), false);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    Delivery waited;
    std::thread waiter([&] { waited = Next(GENTL_INFINITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(cti.EventKill(newBuffer), GC_ERR_SUCCESS);
    waiter.join();
    EXPECT_EQ(waited.result, GC_ERR_ABORT);
    // Nothing was queued: the delivery thread counted its underruns.
    EXPECT_GE(StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN), 1u);
    QueueAll(buffers);
    Delivery next = Next(GENTL_INFINITE);
    EXPECT_EQ(next.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_TRUE(HoldsTestPattern(next.buffer));
    StopAndRelease(buffers);
}

INSTANTIATE_TEST_SUITE_P(Delivery, Acquisition, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ZeroCopy" : "Copy"; });
