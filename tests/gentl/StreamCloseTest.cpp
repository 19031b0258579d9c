// Closing in any order while frames arrive: every level of the tree can go
// with an acquisition running and buffers in both queues, and a consumer
// waiting for a buffer is let go.
#include <atomic>

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

enum class CloseAt { Stream, Device, Interface, System, Library };

class ClosingWhileStreaming : public StreamTest, public ::testing::WithParamInterface<CloseAt> {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig(64, 48, 300.0f));
    }

    // Acquires with both queues in use: some frames taken, some waiting.
    void Stream(bool zeroCopy) {
        if (zeroCopy) WriteStreamRegister(0x224, 1);
        buffers = Announce(6, PayloadSize(), false);
        for (BUFFER_HANDLE b : Announce(2, PayloadSize(), true)) buffers.push_back(b);
        QueueAll(buffers);
        RegisterNewBuffer();
        ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
                  GC_ERR_SUCCESS);
        CameraApi().Execute("AcquisitionStart");
        for (int i = 0; i < 20; ++i) {
            Delivery delivery = Next();
            ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
            // The first three stay with the consumer, the rest go round.
            if (i >= 3) cti.DSQueueBuffer(stream, delivery.buffer);
        }
    }

    GC_ERROR Close(CloseAt level) {
        cameraApi.reset();
        switch (level) {
            case CloseAt::Stream:
                return cti.DSClose(stream);
            case CloseAt::Device:
                return cti.DevClose(device);
            case CloseAt::Interface:
                return cti.IFClose(iface);
            case CloseAt::System:
                return cti.TLClose(system);
            case CloseAt::Library:
                return cti.GCCloseLib();
        }
        return GC_ERR_ERROR;
    }

    std::vector<BUFFER_HANDLE> buffers;
};

std::string Name(const ::testing::TestParamInfo<CloseAt>& info) {
    static const char* const names[] = {"Stream", "Device", "Interface", "System", "Library"};
    return names[static_cast<int>(info.param)];
}

}  // namespace

TEST_P(ClosingWhileStreaming, CopyModeLeavesNothingBehind) {
    Stream(false);
    EXPECT_EQ(Close(GetParam()), GC_ERR_SUCCESS) << cti.LastErrorText();
    // The stream is gone with its handles; the camera still streams to nobody.
    INFO_DATATYPE type = 0;
    size_t count = 0, size = sizeof count;
    EXPECT_NE(cti.DSGetInfo(stream, STREAM_INFO_NUM_DELIVERED, &type, &count, &size),
              GC_ERR_SUCCESS);
    EXPECT_NE(cti.DSQueueBuffer(stream, buffers[0]), GC_ERR_SUCCESS);
    EXPECT_NE(cti.EventGetData(newBuffer, nullptr, &size, 0), GC_ERR_SUCCESS);
}

TEST_P(ClosingWhileStreaming, ZeroCopyLeavesNothingBehind) {
    Stream(true);
    EXPECT_EQ(Close(GetParam()), GC_ERR_SUCCESS) << cti.LastErrorText();
    INFO_DATATYPE type = 0;
    size_t count = 0, size = sizeof count;
    EXPECT_NE(cti.DSGetInfo(stream, STREAM_INFO_NUM_DELIVERED, &type, &count, &size),
              GC_ERR_SUCCESS);
}

TEST_P(ClosingWhileStreaming, AConsumerWaitingForABufferIsLetGo) {
    buffers = Announce(2, PayloadSize(), false);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    // Nothing queued: the waiter stays in its wait until the close.
    std::atomic<GC_ERROR> waited{GC_ERR_SUCCESS};
    std::thread waiter([&] { waited = Next(GENTL_INFINITE).result; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Close(GetParam()), GC_ERR_SUCCESS) << cti.LastErrorText();
    waiter.join();
    EXPECT_EQ(waited.load(), GC_ERR_ABORT);
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, ClosingWhileStreaming,
                         ::testing::Values(CloseAt::Stream, CloseAt::Device, CloseAt::Interface,
                                           CloseAt::System, CloseAt::Library),
                         Name);

TEST_F(StreamTest, StopCloseAndKillRaceTheDeliveryThread) {
    OpenSimulator(SimulatorConfig(64, 48, 500.0f));
    for (int round = 0; round < 3; ++round) {
        std::vector<BUFFER_HANDLE> buffers = Announce(4, PayloadSize(), round == 1);
        QueueAll(buffers);
        if (newBuffer == nullptr) RegisterNewBuffer();
        ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
                  GC_ERR_SUCCESS);
        if (round == 0) CameraApi().Execute("AcquisitionStart");
        std::atomic<bool> done{false};
        std::thread consumer([&] {
            for (int i = 0; i < 200 && !done; ++i) {
                Delivery delivery = Next(GENTL_INFINITE);
                if (delivery.result == GC_ERR_ABORT) break;
                if (delivery.result == GC_ERR_SUCCESS) cti.DSQueueBuffer(stream, delivery.buffer);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        done = true;
        EXPECT_EQ(cti.EventKill(newBuffer), GC_ERR_SUCCESS);
        EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
        consumer.join();
        StopAndReleaseIdle(buffers);
    }
    CameraApi().Execute("AcquisitionStop");
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS);
}
