// The stream back-end of the filter driver: the driver receives and assembles
// the images, the library forwards the requests and reads the results.
#include "FilterDriver.h"
#include "GevLog.h"
#include "StreamBackend.h"
#include "StreamInternal.h"

namespace Vantor {
namespace {

GevStatus DriverStatus(GevStatus status) {
    return status == kGevOk ? kGevOk : kGevDriverFailed;
}

class DriverBackend final : public StreamBackend {
public:
    GevStatus Start(DeviceSlot& slot, const AcquisitionRequest& request) override {
        DeviceRecord& record = slot.record;
        StreamState& stream = slot.stream;
        FilterDriver::StartParams params{};
        params.width = request.width;
        params.height = request.height;
        params.cameraAddress = record.cameraAddress;
        params.streamPort = record.streamPort;
        params.controlPort = record.controlPort;
        params.pixelFormat = request.pixelFormat;
        params.destination = record.multicastGroup != 0
                                 ? Platform::HostToNetwork32(record.multicastGroup)
                                 : record.hostAddress;
        params.payloadSize = request.payloadSize;
        params.packetDataSize = static_cast<uint16_t>(request.packetDataSize);
        params.resendEnabled = stream.settings.resendEnabled ? 1 : 0;
        params.resendLimit = stream.settings.resendCount;
        params.imageTimeoutMs = record.streamTimeout;
        params.extraPacket = request.extraPacket ? 1 : 0;
        GevStatus status = FilterDriver::Start(slot, params, stream.bufferCount);
        if (status == kGevOk) record.acquisitionIdle = 0;
        LogTime(record.ownHandle, "[INFO] -Start acquisition time: %02d:%02d:%02d\n");
        return status;
    }

    GevStatus Stop(DeviceSlot& slot) override {
        StreamState& stream = slot.stream;
        if (FilterDriver::Stop(slot) != kGevOk) return kGevDriverFailed;
        FilterDriver::Statistics statistics{};
        if (FilterDriver::ReadStatistics(slot, &statistics) == kGevOk) {
            stream.statistics.frameCount = statistics.frames;
            stream.statistics.missingFrames = statistics.missingFrames;
            stream.statistics.lostPackets += statistics.lostPackets;
            if (statistics.haveDiscarded)
                stream.statistics.discardedBlocks = statistics.discardedBlocks;
        }
        LogStatistics(slot);
        LogTime(slot.record.ownHandle, "[INFO] -Stop acquisition time: %02d:%02d:%02d\n");
        return kGevOk;
    }

    // The driver waits inside its image read.
    bool AwaitDelivery(DeviceSlot&) override { return true; }
    GevStatus WaitForImage(DeviceSlot&) override { return kGevOk; }

    GevStatus CopyImage(DeviceSlot& slot, uint8_t* target, uint64_t capacity, GevImageInfo* info,
                        GevImageExtent* extent) override {
        if (target == nullptr) return kGevNoRing;
        const GevStatus status = FilterDriver::ReadImage(
            slot, target, static_cast<uint32_t>(capacity), info, &slot.stream.lastImageInfo);
        // The driver's record tells no parts.
        *extent = GevImageExtent{};
        extent->dataSize = extent->filledSize = capacity;
        return status;
    }

    GevStatus TakeSlot(DeviceSlot& slot, GevImageInfo* info, GevImageExtent* extent,
                       uint16_t* slotNumber) override {
        *extent = GevImageExtent{};
        extent->dataSize = extent->filledSize = slot.stream.settings.payloadSize;
        return FilterDriver::ReadSlot(slot, slotNumber, info, &slot.stream.lastImageInfo);
    }

    GevStatus QueueSlot(DeviceSlot& slot, uint64_t slotNumber) override {
        return DriverStatus(FilterDriver::QueueSlot(slot, slotNumber));
    }
    // The driver keeps the buffers it was given until the acquisition stops.
    GevStatus WithdrawSlot(DeviceSlot&, uint64_t) override { return kGevRingSlotBusy; }

    GevStatus FrameRate(DeviceSlot& slot, double* fps) override {
        double rate = 0.0;
        if (FilterDriver::FrameRate(slot, &rate) != kGevOk) return kGevDriverFailed;
        slot.stream.frameRate = rate;
        if (fps != nullptr) *fps = rate;
        return kGevOk;
    }

    GevStatus SetBufferCount(DeviceSlot& slot, uint16_t count) override {
        return DriverStatus(FilterDriver::SetBufferCount(slot, count));
    }
    GevStatus SetPacketResend(DeviceSlot& slot, bool enable) override {
        return DriverStatus(FilterDriver::SetPacketResend(slot, enable));
    }
    GevStatus AnnounceBuffer(DeviceSlot& slot, void* buffer) override {
        return DriverStatus(FilterDriver::AnnounceBuffer(slot, buffer));
    }
    GevStatus ReleaseBuffers(DeviceSlot& slot) override {
        return DriverStatus(FilterDriver::ReleaseBuffers(slot));
    }
    void Release(uint8_t handle) override { GEVDisableFilterDriver(handle); }
};

}  // namespace

StreamBackend& DriverStreamBackend() {
    static DriverBackend backend;
    return backend;
}

}  // namespace Vantor
