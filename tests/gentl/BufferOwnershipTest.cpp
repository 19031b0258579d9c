// Buffer ownership on the paths around the main loop, through the built
// producer: flushes and queueing during acquisition, a start with an empty
// input pool, revokes after a stop, and zero-copy slots in release mode. The
// producer writes only into buffers in the input pool or being filled from it.
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "GEVTLKRVInfo.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint64_t kRegImageTimeout = 0x1C;
constexpr uint64_t kRegRingBufferCount = 0x28;
constexpr uint64_t kRegUseUserBuffer = 0x224;
constexpr uint8_t kCanary = 0xC5;

class BufferOwnership : public StreamTest {
protected:
    uint8_t* Memory(BUFFER_HANDLE buffer) { return BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE); }
    size_t Size(BUFFER_HANDLE buffer) { return BufferInfo<size_t>(buffer, BUFFER_INFO_SIZE); }
    bool IsQueued(BUFFER_HANDLE buffer) {
        return BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_QUEUED) != 0;
    }
    void FillCanary(BUFFER_HANDLE buffer) { std::memset(Memory(buffer), kCanary, Size(buffer)); }
    ::testing::AssertionResult HoldsCanary(BUFFER_HANDLE buffer) {
        const uint8_t* memory = Memory(buffer);
        for (size_t i = 0; i < Size(buffer); ++i)
            if (memory[i] != kCanary)
                return ::testing::AssertionFailure() << "byte " << i << " was written";
        return ::testing::AssertionSuccess();
    }
    void Flush(ACQ_QUEUE_TYPE operation) {
        ASSERT_EQ(cti.DSFlushQueue(stream, operation), GC_ERR_SUCCESS) << cti.LastErrorText();
    }
};

}  // namespace

// Copy mode: a discard while the engine waits for an image, then the buffers
// queued again, then a stop, revokes and a new start. Each buffer is delivered
// once per queueing, and a revoked buffer is never written again.
TEST_F(BufferOwnership, ADiscardDuringAcquisitionLeavesEachBufferInOnePlace) {
    OpenSimulator(SimulatorConfig(64, 48, 100.0f));
    WriteStreamRegister(kRegImageTimeout, 100);  // waits for an image end quickly
    std::vector<BUFFER_HANDLE> buffers = Announce(2, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    // No image comes yet: give the engine time to look for one, then discard.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Flush(ACQ_QUEUE_ALL_DISCARD);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the image time-out
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 0u) << "a discarded buffer came back";
    for (BUFFER_HANDLE buffer : buffers) EXPECT_FALSE(IsQueued(buffer));

    Flush(ACQ_QUEUE_ALL_TO_INPUT);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 2u);
    CameraApi().Execute("AcquisitionStart");
    std::set<BUFFER_HANDLE> delivered;
    for (int i = 0; i < 2; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        EXPECT_TRUE(delivered.insert(delivery.buffer).second) << "delivered twice";
    }
    EXPECT_EQ(Next(300).result, GC_ERR_TIMEOUT) << "both buffers are held: nothing to deliver";
    CameraApi().Execute("AcquisitionStop");
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    Flush(ACQ_QUEUE_ALL_DISCARD);
    for (BUFFER_HANDLE buffer : buffers)
        ASSERT_EQ(cti.DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED), 0u);

    // A new start fills only the buffer announced now (AddressSanitizer would
    // see a write into a revoked one).
    std::vector<BUFFER_HANDLE> fresh = Announce(1, PayloadSize(), true);
    QueueAll(fresh);
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(delivery.buffer, fresh[0]);
    EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
    StopAndRelease(fresh);
}

// Zero-copy: queueing after the start is allowed, and a buffer never queued is
// never written; the frames that found no buffer are underruns.
TEST_F(BufferOwnership, ZeroCopyStartedWithAnEmptyPoolWritesNoBufferUntilQueued) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    WriteStreamRegister(kRegUseUserBuffer, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(3, PayloadSize(), false);
    for (BUFFER_HANDLE buffer : buffers) FillCanary(buffer);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    AwaitBlocksSent(10);
    for (BUFFER_HANDLE buffer : buffers) EXPECT_TRUE(HoldsCanary(buffer));
    EXPECT_EQ(Next(100).result, GC_ERR_TIMEOUT);
    EXPECT_GE(StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN), 5u)
        << "frames lost for want of a buffer";
    ASSERT_EQ(cti.DSQueueBuffer(stream, buffers[1]), GC_ERR_SUCCESS);
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(delivery.buffer, buffers[1]);
    EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
    EXPECT_TRUE(HoldsCanary(buffers[0]));
    EXPECT_TRUE(HoldsCanary(buffers[2]));
    StopAndRelease(buffers);
}

// Zero-copy: a flush that moves buffers out of the input pool takes their slots
// back from the receiver first; buffers the consumer then holds stay untouched.
TEST_F(BufferOwnership, ZeroCopyFlushesTakeTheSlotsBackBeforeTheBuffersChangeHands) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    WriteStreamRegister(kRegUseUserBuffer, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(4, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    for (ACQ_QUEUE_TYPE flush : {ACQ_QUEUE_ALL_DISCARD, ACQ_QUEUE_INPUT_TO_OUTPUT}) {
        SCOPED_TRACE(flush);
        Delivery held = Next();
        ASSERT_EQ(held.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        Flush(flush);
        // The output queue's buffers come to the consumer as well.
        while (StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY) != 0)
            ASSERT_EQ(Next(0).result, GC_ERR_SUCCESS);
        std::vector<BUFFER_HANDLE> consumers;
        for (BUFFER_HANDLE buffer : buffers) {
            // A buffer being filled stays with the engine: not the consumer's yet.
            if (IsQueued(buffer)) continue;
            FillCanary(buffer);
            consumers.push_back(buffer);
        }
        ASSERT_FALSE(consumers.empty()) << "the buffer taken before the flush is the consumer's";
        AwaitBlocksSent(15);
        for (BUFFER_HANDLE buffer : consumers) EXPECT_TRUE(HoldsCanary(buffer));
        // What the engine kept comes out filled; the rest goes back in.
        while (Next(200).result == GC_ERR_SUCCESS) {
        }
        Flush(ACQ_QUEUE_ALL_TO_INPUT);
    }
    StopAndRelease(buffers);
}

// Release mode (ring buffer count 0) hands no incomplete zero-copy slot out: the
// slot goes straight back to the receiver, so it must not reach the consumer.
TEST_F(BufferOwnership, ReleaseModeNeverPublishesASlotItGaveBack) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    // Every even block loses its first data packet for good.
    for (uint64_t block = 2; block <= 200; block += 2)
        Simulator().faults().Stream().DropPackets(block, {1}, GevSim::StreamFaults::Drop::Always);
    WriteStreamRegister(kRegRingBufferCount, 0);
    WriteStreamRegister(kRegUseUserBuffer, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(3, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 10; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        EXPECT_FALSE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE));
        EXPECT_EQ(BufferInfo<uint64_t>(delivery.buffer, BUFFER_INFO_FRAMEID) % 2, 1u);
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
        ASSERT_EQ(cti.DSQueueBuffer(stream, delivery.buffer), GC_ERR_SUCCESS);
    }
    EXPECT_GE(StreamInfo<uint64_t>(STREAM_INFO_GEVTLKRV_LOST_FRAMES), 5u);
    StopAndRelease(buffers);
}

// A consumer thread taking buffers and queueing them again, while another
// thread queues everything it holds (ALL_TO_INPUT): each buffer stays in one
// place, so the queue counts agree with the buffers' own flags at the end.
TEST_F(BufferOwnership, QueueingWhileBuffersAreHandedOutKeepsOnePlaceEach) {
    OpenSimulator(SimulatorConfig(64, 48, 500.0f));
    std::vector<BUFFER_HANDLE> buffers = Announce(3, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    std::atomic<bool> done{false};
    std::thread flusher([&] {
        while (!done) {
            EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_ALL_TO_INPUT), GC_ERR_SUCCESS);
            std::this_thread::yield();
        }
    });
    int taken = 0;
    for (int i = 0; i < 400 && taken < 100; ++i) {
        Delivery delivery = Next(50);
        if (delivery.result != GC_ERR_SUCCESS) continue;
        ++taken;
        // Queued again, or already queued by the other thread: either is fine.
        EXPECT_EQ(cti.DSQueueBuffer(stream, delivery.buffer), GC_ERR_SUCCESS);
    }
    done = true;
    flusher.join();
    EXPECT_GT(taken, 0);
    CameraApi().Execute("AcquisitionStop");
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    size_t flagged = 0;
    for (BUFFER_HANDLE buffer : buffers) flagged += IsQueued(buffer) ? 1 : 0;
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_QUEUED) +
                  StreamInfo<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY),
              flagged);
    // A buffer that says it is the consumer's revokes; the others refuse.
    std::vector<BUFFER_HANDLE> left;
    for (BUFFER_HANDLE buffer : buffers) {
        const bool queued = IsQueued(buffer);
        EXPECT_EQ(cti.DSRevokeBuffer(stream, buffer, nullptr, nullptr) == GC_ERR_SUCCESS, !queued);
        if (queued) left.push_back(buffer);
    }
    Flush(ACQ_QUEUE_ALL_DISCARD);
    for (BUFFER_HANDLE buffer : left)
        EXPECT_EQ(cti.DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamInfo<size_t>(STREAM_INFO_NUM_ANNOUNCED), 0u);
}

// Buffers announced in zero-copy mode, then delivered by copy: the receiver fills
// its own ring, never the consumer's buffers, which change only by a delivery.
TEST_F(BufferOwnership, SwitchingToCopyModeLeavesNoBufferWithTheReceiver) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    WriteStreamRegister(kRegUseUserBuffer, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(3, PayloadSize(), false);
    WriteStreamRegister(kRegUseUserBuffer, 0);
    for (BUFFER_HANDLE buffer : buffers) FillCanary(buffer);
    ASSERT_EQ(cti.DSQueueBuffer(stream, buffers[0]), GC_ERR_SUCCESS);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    AwaitBlocksSent(10);
    EXPECT_TRUE(HoldsCanary(buffers[1]));
    EXPECT_TRUE(HoldsCanary(buffers[2]));
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(delivery.buffer, buffers[0]);
    EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
    StopAndRelease(buffers);
}
