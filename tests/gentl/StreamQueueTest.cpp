// The data stream's queues, buffer records and refusals, through the built
// producer: what a consumer sees when it queues, flushes, revokes and asks.
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

class StreamQueues : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
        payload = PayloadSize();
    }

    // Starts the camera and the stream, and waits for `count` deliveries
    // without taking them.
    void FillOutputQueue(size_t count) {
        ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, count), GC_ERR_SUCCESS);
        CameraApi().Execute("AcquisitionStart");
        ASSERT_TRUE(
            WaitFor([&] { return StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY) == count; }));
    }

    size_t payload = 0;
};

}  // namespace

TEST_F(StreamQueues, FreshBufferRecordsDescribeTheirDefaults) {
    std::vector<BUFFER_HANDLE> buffers = Announce(1, payload, false);
    BUFFER_HANDLE b = buffers[0];
    EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_WIDTH), 1024u);
    EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_HEIGHT), 768u);
    EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_PAYLOADTYPE), PAYLOAD_TYPE_IMAGE);
    EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_SIZE_FILLED), 0u) << "never filled";
    EXPECT_EQ(BufferInfo<void*>(b, BUFFER_INFO_BASE), consumerMemory.back().data());
    uint64_t frame = 0;
    size_t size = sizeof frame;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(cti.DSGetBufferInfo(stream, b, BUFFER_INFO_FRAMEID, &type, &frame, &size),
              GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(cti.LastErrorText(), "No acquired image available");

    // Stacked: the frame ID entry fails alone.
    uint64_t width = 0;
    DS_BUFFER_INFO_STACKED entries[2] = {
        {BUFFER_INFO_FRAMEID, 0, &frame, sizeof frame, GC_ERR_SUCCESS},
        {BUFFER_INFO_WIDTH, 0, &width, sizeof width, GC_ERR_ERROR}};
    EXPECT_EQ(cti.DSGetBufferInfoStacked(stream, b, entries, 2), GC_ERR_SUCCESS);
    EXPECT_EQ(entries[0].iResult, GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(entries[1].iResult, GC_ERR_SUCCESS);
    EXPECT_EQ(width, 1024u);

    INFO_DATATYPE segmentType = 0;
    bool8_t incomplete = 0;
    size = 1;
    EXPECT_EQ(cti.DSGetBufferSegmentInfo(stream, b, 0, SEGMENT_INFO_IS_INCOMPLETE, &segmentType,
                                         &incomplete, &size),
              GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(cti.LastErrorText(), "SEGMENT_INFO_IS_INCOMPLETE is not available.");
    BUFFER_HANDLE byIndex = nullptr;
    EXPECT_EQ(cti.DSGetBufferID(stream, 0, &byIndex), GC_ERR_SUCCESS);
    EXPECT_EQ(byIndex, b);
    EXPECT_EQ(cti.DSGetBufferID(stream, 1, &byIndex), GC_ERR_INVALID_INDEX);
    StopAndReleaseIdle(buffers);
}

TEST_F(StreamQueues, QueueTwiceRevokeQueuedAndFlushes) {
    std::vector<BUFFER_HANDLE> buffers = Announce(3, payload, true);
    ASSERT_EQ(cti.DSQueueBuffer(stream, buffers[0]), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.DSQueueBuffer(stream, buffers[0]), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 1u) << "in the pool once";
    EXPECT_EQ(cti.DSRevokeBuffer(stream, buffers[0], nullptr, nullptr), GC_ERR_BUSY);
    EXPECT_EQ(cti.LastErrorText(), "Buffer queued.");

    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_UNQUEUED_TO_INPUT), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 3u);
    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_INPUT_TO_OUTPUT), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 0u);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), 3u);
    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_ALL_TO_INPUT), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 3u);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), 0u);
    EXPECT_EQ(cti.DSFlushQueue(stream, static_cast<ACQ_QUEUE_TYPE>(5)), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    void* memory = reinterpret_cast<void*>(1);
    void* privateData = nullptr;
    EXPECT_EQ(cti.DSRevokeBuffer(stream, buffers[0], &memory, &privateData), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, nullptr) << "the producer's memory is freed, not handed back";
    EXPECT_NE(privateData, nullptr);
    // A revoked handle is no longer a buffer of the stream.
    EXPECT_NE(cti.DSQueueBuffer(stream, buffers[0]), GC_ERR_SUCCESS);
    StopAndReleaseIdle({buffers[1], buffers[2]});
}

TEST_F(StreamQueues, EventDataNeedsSixteenBytesAndCarriesThePrivatePointer) {
    std::vector<BUFFER_HANDLE> buffers = Announce(2, payload, false);
    QueueAll(buffers);
    RegisterNewBuffer();
    EVENT_HANDLE second = nullptr;
    EXPECT_EQ(cti.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &second), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(cti.LastErrorText(), "Event already registered");
    FillOutputQueue(2);

    uint8_t data[16] = {};
    size_t size = 8;
    EXPECT_EQ(cti.EventGetData(newBuffer, data, &size, 100), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(cti.LastErrorText(), "Buffer to small");
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), 2u) << "still queued";
    size_t numInQueue = 0;
    size = sizeof numInQueue;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(cti.EventGetInfo(newBuffer, EVENT_NUM_IN_QUEUE, &type, &numInQueue, &size), 0);
    EXPECT_EQ(numInQueue, 2u);
    size_t maxSize = 0;
    size = sizeof maxSize;
    EXPECT_EQ(cti.EventGetInfo(newBuffer, EVENT_INFO_DATA_SIZE_MAX, &type, &maxSize, &size), 0);
    EXPECT_EQ(maxSize, 16u);

    size = sizeof data;
    ASSERT_EQ(cti.EventGetData(newBuffer, data, &size, 100), GC_ERR_SUCCESS);
    void* handle = nullptr;
    size = sizeof handle;
    EXPECT_EQ(cti.EventGetDataInfo(newBuffer, data, 16, EVENT_DATA_ID, &type, &handle, &size), 0);
    void* privateData = nullptr;
    size = sizeof privateData;
    EXPECT_EQ(
        cti.EventGetDataInfo(newBuffer, data, 16, EVENT_DATA_VALUE, &type, &privateData, &size), 0);
    EXPECT_EQ(privateData, BufferInfo<void*>(handle, BUFFER_INFO_USER_PTR));
    EXPECT_EQ(type, INFO_DATATYPE_PTR);
    // Eight bytes of event data cannot hold the private pointer.
    EXPECT_EQ(
        cti.EventGetDataInfo(newBuffer, data, 8, EVENT_DATA_VALUE, &type, &privateData, &size),
        GC_ERR_INVALID_PARAMETER);

    // The flush of the event discards the output queue.
    EXPECT_EQ(cti.EventFlush(newBuffer), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY), 0u);
    StopAndRelease(buffers);
}

TEST_F(StreamQueues, StreamsAreOpenedOnceAndNamedByTheirNumber) {
    DS_HANDLE again = nullptr;
    EXPECT_EQ(cti.DevOpenDataStream(device, "DS0", &again), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(cti.LastErrorText(), "Data stream already open");
    DEV_HANDLE parent = nullptr;
    EXPECT_EQ(cti.DSGetParentDev(stream, &parent), GC_ERR_SUCCESS);
    EXPECT_EQ(parent, device);
    char id[64] = {};
    size_t size = sizeof id;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(cti.DSGetInfo(stream, STREAM_INFO_ID, &type, id, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "DS0");
    EXPECT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 1), GC_ERR_INVALID_BUFFER)
        << "no buffer announced";
    EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_INVALID_HANDLE) << "a closed stream is unknown";
    EXPECT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS) << cti.LastErrorText();
}

TEST_F(StreamQueues, CompositeBuffersDeliverIntoTheirSegments) {
    const size_t half = payload / 2;
    std::vector<uint8_t> first(half, 0), second(payload - half, 0);
    void* segments[2] = {first.data(), second.data()};
    size_t sizes[2] = {first.size(), second.size()};
    BUFFER_HANDLE composite = nullptr;
    ASSERT_EQ(cti.DSAnnounceCompositeBuffer(stream, 2, segments, sizes, nullptr, &composite),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    uint32_t count = 0;
    EXPECT_EQ(cti.DSGetNumBufferSegments(stream, composite, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(BufferInfo<bool8_t>(composite, BUFFER_INFO_IS_COMPOSITE));
    QueueAll({composite});
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 1), GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(delivery.buffer, composite);
    const uint64_t frame = BufferInfo<uint64_t>(composite, BUFFER_INFO_FRAMEID);
    // Row-major Mono8 64 wide: byte i of the image is pixel (i % 64, i / 64).
    for (size_t i = 0; i < payload; i += 97) {
        const uint8_t expected = static_cast<uint8_t>(i % 64 + i / 64 + frame);
        const uint8_t actual = i < half ? first[i] : second[i - half];
        ASSERT_EQ(actual, expected) << "byte " << i;
    }
    size_t segmentSize = 0;
    size_t size = sizeof segmentSize;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(cti.DSGetBufferSegmentInfo(stream, composite, 1, SEGMENT_INFO_SIZE_FILLED, &type,
                                         &segmentSize, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(segmentSize, second.size());
    EXPECT_EQ(cti.DSGetBufferSegmentInfo(stream, composite, 2, SEGMENT_INFO_SIZE, &type,
                                         &segmentSize, &size),
              GC_ERR_INVALID_INDEX);
    StopAndRelease({composite});
}

TEST_F(StreamQueues, CameraWithoutGenDCAnswersNoData) {
    uint32_t flows = 0;
    EXPECT_EQ(cti.DSGetNumFlows(stream, &flows), GC_ERR_NO_DATA);
    EXPECT_EQ(cti.LastErrorText(), "GetNumFlows: GenDC is not supported");
    EXPECT_EQ(cti.DSGetNumBufferParts(nullptr, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
}
