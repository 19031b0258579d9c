// The data stream's buffer handling modes, selected through the stream's own
// GenApi description as a consumer selects them, in copy and zero-copy mode:
// the camera sends a counted burst while the consumer takes nothing, then the
// consumer sees what each mode kept. The stream counters read through GenApi
// agree with the info commands, and no frame is handed out twice.
#include <set>

#include "GEVTLKRVInfo.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint64_t kRegBufferHandlingMode = 0x200;
constexpr uint64_t kRegUseUserBuffer = 0x224;
constexpr int kBurst = 10;
constexpr size_t kBuffers = 3;

class BufferHandlingMode : public StreamTest, public ::testing::WithParamInterface<bool> {
protected:
    bool ZeroCopy() const { return GetParam(); }

    // The simulator, a stream in the mode under test with three queued buffers,
    // and kBurst frames sent one at a time while the consumer takes none: each
    // is sent once the producer has accounted for the one before, so what the
    // mode keeps does not depend on how fast the threads run.
    void RunBurst(const std::string& mode) {
        OpenSimulator(SimulatorConfig(64, 48, 100.0f));
        streamApi = std::make_unique<GenApiBridge::GenApiPort>(
            GenApiBridge::GenApiPort::FromPort(stream, Ports()));
        EXPECT_EQ(streamApi->GetEnumeration("StreamBufferHandlingMode"), "OldestFirst");
        streamApi->SetEnumeration("StreamBufferHandlingMode", mode);
        ASSERT_EQ(streamApi->GetEnumeration("StreamBufferHandlingMode"), mode);
        if (ZeroCopy()) WriteStreamRegister(kRegUseUserBuffer, 1);
        buffers = Announce(kBuffers, PayloadSize(), false);
        QueueAll(buffers);
        RegisterNewBuffer();
        StartStream();
        CameraApi().SetEnumeration("AcquisitionMode", "SingleFrame");
        for (uint64_t sent = 1; sent <= kBurst; ++sent) {
            CameraApi().Execute("AcquisitionStart");
            ASSERT_TRUE(Await([&] { return Accounted() >= sent; }))
                << "frame " << sent << " is delivered, an underrun or lost";
            // Under the queue lock: the delivery that counted the frame has
            // finished applying the mode.
            StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED);
        }
        EXPECT_EQ(Accounted(), static_cast<uint64_t>(kBurst));
    }

    uint64_t Accounted() {
        return StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED) +
               StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN) +
               StreamInfo<uint64_t>(STREAM_INFO_GEVTLKRV_LOST_FRAMES);
    }

    uint64_t Discarded() { return StreamInfo<uint64_t>(STREAM_INFO_GEVTLKRV_DISCARDED_FRAMES); }
    uint64_t LastBlockId() { return Simulator().StreamStats().lastBlockId; }

    // Takes every waiting buffer; their frame IDs, checked for content and
    // for being handed out once each.
    std::vector<uint64_t> TakeAll() {
        std::vector<uint64_t> frames;
        std::set<BUFFER_HANDLE> seen;
        for (size_t i = 0; i <= kBuffers; ++i) {
            Delivery delivery = Next(200);
            if (delivery.result == GC_ERR_TIMEOUT) break;
            EXPECT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
            if (delivery.result != GC_ERR_SUCCESS) break;
            EXPECT_TRUE(seen.insert(delivery.buffer).second) << "handed out twice";
            EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
            frames.push_back(BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_FRAMEID));
        }
        return frames;
    }

    // The counters as a consumer's feature browser shows them equal the info commands.
    void ExpectFeaturesAgreeWithInfo() {
        EXPECT_EQ(streamApi->GetInteger("StreamStartedFrameCount"),
                  static_cast<int64_t>(StreamInfo<uint64_t>(STREAM_INFO_NUM_STARTED)));
        EXPECT_EQ(streamApi->GetInteger("StreamDeliveredFrameCount"),
                  static_cast<int64_t>(StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED)));
        EXPECT_EQ(streamApi->GetInteger("StreamLostFrameCount"),
                  static_cast<int64_t>(StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN)));
        EXPECT_EQ(streamApi->GetInteger("StreamDiscardedFrameCount"),
                  static_cast<int64_t>(Discarded()));
        EXPECT_EQ(
            streamApi->GetInteger("StreamIncompleteFrameCount"),
            static_cast<int64_t>(StreamInfo<uint64_t>(STREAM_INFO_GEVTLKRV_INCOMPLETE_FRAMES)));
        EXPECT_EQ(streamApi->GetInteger("StreamMissingFrameCount"),
                  static_cast<int64_t>(StreamInfo<uint64_t>(STREAM_INFO_GEVTLKRV_LOST_FRAMES)));
        EXPECT_EQ(streamApi->GetInteger("StreamInputBufferCount"),
                  static_cast<int64_t>(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED)));
        EXPECT_EQ(streamApi->GetInteger("StreamOutputBufferCount"),
                  static_cast<int64_t>(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY)));
        EXPECT_EQ(streamApi->GetInteger("StreamAnnouncedBufferCount"),
                  static_cast<int64_t>(kBuffers));
        EXPECT_TRUE(streamApi->GetBoolean("StreamIsGrabbing"));
    }

    void TearDown() override {
        if (stream != nullptr && !buffers.empty()) StopAndRelease(buffers);
        streamApi.reset();
        StreamTest::TearDown();
    }

    std::unique_ptr<GenApiBridge::GenApiPort> streamApi;
    std::vector<BUFFER_HANDLE> buffers;
};

}  // namespace

// Every frame goes into a buffer; only the newest waits, the older ones went
// back to the input pool, counted, and the consumer gets the last frame sent.
TEST_P(BufferHandlingMode, NewestOnlyKeepsOnlyTheLatestFrameWaiting) {
    RunBurst("NewestOnly");
    // One buffer waits and the others are back in the pool, so no frame of
    // the burst found the pool empty.
    EXPECT_EQ(StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN), 0u);
    EXPECT_EQ(StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED), static_cast<uint64_t>(kBurst));
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), 1u);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), kBuffers - 1);
    EXPECT_EQ(Discarded(), static_cast<uint64_t>(kBurst - 1));
    ExpectFeaturesAgreeWithInfo();
    const std::vector<uint64_t> frames = TakeAll();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], LastBlockId());
}

// With the pool empty, copy mode refills the oldest waiting buffer with each
// new frame, so the last three frames wait, oldest first. Zero-copy gives the
// oldest waiting buffer back to the receiver as soon as none is queued, so the
// last two wait.
TEST_P(BufferHandlingMode, OldestFirstOverwriteKeepsTheNewestFramesInOrder) {
    RunBurst("OldestFirstOverwrite");
    ExpectFeaturesAgreeWithInfo();
    const uint64_t kept = ZeroCopy() ? kBuffers - 1 : kBuffers;
    EXPECT_EQ(StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN), 0u);
    EXPECT_EQ(StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED), static_cast<uint64_t>(kBurst));
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), kept);
    EXPECT_EQ(Discarded(), kBurst - kept);
    std::vector<uint64_t> expected;
    for (uint64_t id = LastBlockId() + 1 - kept; id <= LastBlockId(); ++id) expected.push_back(id);
    EXPECT_EQ(TakeAll(), expected);
}

INSTANTIATE_TEST_SUITE_P(CopyAndZeroCopy, BufferHandlingMode, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ZeroCopy" : "Copy";
                         });

// The mode register takes only the three modes; the stream keeps its mode on a refusal.
TEST_F(StreamTest, BufferHandlingModeRefusesUnknownModes) {
    OpenSimulator(SimulatorConfig());
    uint32_t value = 3;
    size_t size = sizeof value;
    ASSERT_EQ(cti.GCWritePort(stream, kRegBufferHandlingMode, &value, &size), GC_ERR_SUCCESS);
    for (uint32_t bad : {0u, 4u, 0xFFFFFFFFu}) {
        value = bad;
        size = sizeof value;
        EXPECT_EQ(cti.GCWritePort(stream, kRegBufferHandlingMode, &value, &size),
                  GC_ERR_INVALID_PARAMETER)
            << bad;
        EXPECT_EQ(ReadStreamRegister(kRegBufferHandlingMode), 3u);
    }
}
