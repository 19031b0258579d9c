// The stream back-end of VantorLib's own: the stream socket, the ring and the
// receive thread that fills it.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "GevLog.h"
#include "StreamBackend.h"
#include "StreamInternal.h"
#include "UdpUtility.h"

namespace Vantor {
namespace {

// Sizes the socket's buffer for this acquisition's frames; says what was granted.
void SizeReceiveBuffer(DeviceRecord& record, uint32_t payloadSize) {
    const size_t wanted = StreamReceiveBufferSize(payloadSize);
    const size_t granted = Platform::SetReceiveBufferSize(record.streamSocket, wanted);
    DeviceLog(record.ownHandle, kLogVerbose,
              "Stream socket receive buffer: %d bytes asked, %d granted\n", wanted, granted);
    WarnIfReceiveBufferShort(record, granted, wanted);
}

class SocketBackend final : public StreamBackend {
public:
    GevStatus Start(DeviceSlot& slot, const AcquisitionRequest& request) override {
        DeviceRecord& record = slot.record;
        StreamState& stream = slot.stream;
        const uint8_t handle = record.ownHandle;
        SizeReceiveBuffer(record, request.payloadSize);
        DeviceLog(handle, kLogInfo, "[INFO] -Allocate ring buffer for images.\n");
        DeviceLog(handle, kLogInfo, "[INFO] -Allocate index buffer for images.\n");
        if (!BuildRing(stream)) {
            FreeRing(stream);
            return kGevOutOfMemory;
        }
        record.acquisitionIdle = 0;
        try {
            stream.grabThread = std::thread(GrabThread, &slot);
        } catch (const std::system_error&) {
            record.acquisitionIdle = 1;
            FreeRing(stream);
            return kGevHeartbeatThreadFailed;
        }
        LogTime(handle, "[INFO] -Start acquisition time: %02d:%02d:%02d\n");
        return kGevOk;
    }

    GevStatus Stop(DeviceSlot& slot) override {
        DeviceRecord& record = slot.record;
        StreamState& stream = slot.stream;
        const uint8_t handle = record.ownHandle;
        if (stream.grabThread.joinable()) {
            const uint32_t limit = record.streamTimeout + 200;
            DeviceLog(handle, kLogTrace, "Synchronizing with thread %p (timeout = %d)\n",
                      static_cast<void*>(&stream.grabThread), limit);
            const auto start = std::chrono::steady_clock::now();
            // The thread sees the flag after its current wait for a datagram; it is
            // always joined, so the ring is never freed under it.
            stream.grabThread.join();
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if (waited.count() > limit)
                DeviceLog(handle, kLogInfo, "[INFO] -Timeout/error 0x%x closing thread\n", 0x102);
        }
        // Frames delivered by the receiver that nobody took go with the ring.
        stream.statistics.lostFrames += stream.delivered.Count();
        DeviceLog(handle, kLogInfo, "[INFO] -Free index buffer for images.\n");
        DeviceLog(handle, kLogInfo, "[INFO] -Free ring buffer for images.\n");
        FreeRing(stream);
        if (ListensOnly(record)) {
            CloseUdpSocket(record.streamSocket);
            record.streamSocket = Platform::kInvalidSocket;
        }
        LogStatistics(slot);
        LogTime(handle, "[INFO] -Stop acquisition time: %02d:%02d:%02d\n");
        return kGevOk;
    }

    bool AwaitDelivery(DeviceSlot& slot) override { return RingAwaitDelivery(slot); }
    GevStatus WaitForImage(DeviceSlot& slot) override { return RingWaitForImage(&slot); }
    GevStatus CopyImage(DeviceSlot& slot, uint8_t* target, uint64_t capacity, GevImageInfo* info,
                        GevImageExtent* extent) override {
        return RingCopyImage(&slot, target, capacity, info, extent);
    }
    GevStatus TakeSlot(DeviceSlot& slot, GevImageInfo* info, GevImageExtent* extent,
                       uint16_t* slotNumber) override {
        return RingTakeSlot(&slot, info, extent, slotNumber);
    }
    GevStatus QueueSlot(DeviceSlot& slot, uint64_t slotNumber) override {
        return RingQueueSlot(&slot, slotNumber);
    }
    GevStatus WithdrawSlot(DeviceSlot& slot, uint64_t slotNumber) override {
        return RingWithdrawSlot(&slot, slotNumber);
    }
    GevStatus FrameRate(DeviceSlot& slot, double* fps) override {
        return RingFrameRate(&slot, fps);
    }

    // The ring reads the slot's settings at the next start: nothing to forward.
    GevStatus SetBufferCount(DeviceSlot&, uint16_t) override { return kGevOk; }
    GevStatus SetPacketResend(DeviceSlot&, bool) override { return kGevOk; }
    GevStatus AnnounceBuffer(DeviceSlot&, void*) override { return kGevOk; }
    GevStatus ReleaseBuffers(DeviceSlot&) override { return kGevOk; }
    void Release(uint8_t) override {}
};

}  // namespace

size_t StreamReceiveBufferSize(uint32_t payloadSize) {
    const uint64_t frames = uint64_t{payloadSize} * kBufferedFrames;
    return static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(frames, kLargeReceiveBuffer),
                                                  kMaxStreamReceiveBuffer));
}

StreamBackend& SocketStreamBackend() {
    static SocketBackend backend;
    return backend;
}

StreamBackend& BackendOf(const DeviceRecord& record) {
    return *record.streamBackend.load();
}

}  // namespace Vantor
