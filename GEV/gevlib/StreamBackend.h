// How a device's stream moves images: through VantorLib's own socket, ring and
// receive thread, or through the filter driver. The stream operations call the
// back-end in use instead of asking which one it is.
//
// Threads: the back-ends are stateless (their state lives in the slot), so a
// caller may hold one while another thread switches the slot to the other.
// Locks as the GEV... function that calls them documents.
#pragma once

#include <cstdint>

#include "GevStatus.h"
#include "VantorLib.h"

namespace Vantor {

struct DeviceSlot;
struct DeviceRecord;

// What an acquisition start knows beyond StreamSettings.
struct AcquisitionRequest {
    uint32_t width = 0, height = 0, pixelFormat = 0;
    uint32_t payloadSize = 0;
    uint32_t packetDataSize = 0;
    bool extraPacket = false;
};

class StreamBackend {
public:
    virtual ~StreamBackend() = default;

    // Starts an acquisition whose settings are in place; clears acquisitionIdle on success.
    virtual GevStatus Start(DeviceSlot& slot, const AcquisitionRequest& request) = 0;
    // Stops it once acquisitionIdle is set and waiters are woken: logs the statistics.
    virtual GevStatus Stop(DeviceSlot& slot) = 0;

    // Before a dequeue: false at once when nothing can be delivered.
    virtual bool AwaitDelivery(DeviceSlot& slot) = 0;
    virtual GevStatus WaitForImage(DeviceSlot& slot) = 0;
    // Copies the next image into `target` (`capacity` bytes); stream lock held.
    virtual GevStatus CopyImage(DeviceSlot& slot, uint8_t* target, uint64_t capacity,
                                GevImageInfo* info, GevImageExtent* extent) = 0;
    // Hands out the next ring slot as it is; stream lock held.
    virtual GevStatus TakeSlot(DeviceSlot& slot, GevImageInfo* info, GevImageExtent* extent,
                               uint16_t* slotNumber) = 0;
    virtual GevStatus QueueSlot(DeviceSlot& slot, uint64_t slotNumber) = 0;
    virtual GevStatus WithdrawSlot(DeviceSlot& slot, uint64_t slotNumber) = 0;
    // The running frame rate (the stopped one is answered by the caller).
    virtual GevStatus FrameRate(DeviceSlot& slot, double* fps) = 0;

    // Settings the back-end keeps a copy of; the caller has stored them in the slot.
    virtual GevStatus SetBufferCount(DeviceSlot& slot, uint16_t count) = 0;
    virtual GevStatus SetPacketResend(DeviceSlot& slot, bool enable) = 0;
    virtual GevStatus AnnounceBuffer(DeviceSlot& slot, void* buffer) = 0;
    virtual GevStatus ReleaseBuffers(DeviceSlot& slot) = 0;

    // Lets go of what the back-end holds when the device is closed or lost.
    virtual void Release(uint8_t handle) = 0;
};

// The two back-ends; a slot points to one of them (DeviceRecord::streamBackend).
StreamBackend& SocketStreamBackend();
StreamBackend& DriverStreamBackend();

// The back-end a slot uses now.
StreamBackend& BackendOf(const DeviceRecord& record);

}  // namespace Vantor
