// Hand-out of delivered images to the consumer side: by copy
// (GEVGetImageBuffer) or by slot (GEVGetRingBufferImage, GEVQueueRingBuffer),
// and the frame rate.
#include <chrono>
#include <cstring>
#include <mutex>

#include "FilterDriver.h"
#include "GevLog.h"
#include "GvspPackets.h"
#include "StreamInternal.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

GevImageInfo InfoOf(const GevBufferDescriptor& block) {
    GevImageInfo info{};
    info.blockId = block.blockId;
    info.timestamp = block.timestamp;
    info.pixelFormat = block.pixelFormat;
    info.sizeX = block.sizeX;
    info.sizeY = block.sizeY;
    info.offsetX = block.offsetX;
    info.offsetY = block.offsetY;
    info.paddingX = block.paddingX;
    info.paddingY = block.paddingY;
    info.missingPackets = block.missingPackets;
    info.payloadType = block.payloadType;
    info.chunkDataLength = block.chunkDataLength;
    info.chunkLayoutId = block.chunkLayoutId;
    return info;
}

// Waits, without the stream lock, until a block is delivered, the acquisition
// stops or the stream time-out passes: a consumer giving a ring slot back
// (GEVQueueRingBuffer) must not wait for an image that needs that very slot.
void WaitForDelivery(DeviceSlot& slot) {
    StreamState& stream = slot.stream;
    if (stream.delivered.Count() != 0) return;
    const uint8_t handle = slot.record.ownHandle;
    DeviceLog(handle, kLogTrace, "No images available in deliver list. Wait.\n");
    uint32_t timeout = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(slot.controlLock);
        timeout = slot.record.streamTimeout;
    }
    std::unique_lock<std::mutex> lock(stream.imageLock);
    const bool arrived =
        stream.imageArrived.wait_for(lock, std::chrono::milliseconds(timeout),
                                     [&] { return stream.imageSignalled || stream.waitAborted; });
    if (!arrived)
        DevicelessLog("[WARNING] -time out while waiting for a new image (%d, err=%x)\n", handle,
                      0x102);
}

// Takes the oldest delivered block (stream lock held); null with the status set.
GevBufferDescriptor* TakeDelivered(DeviceSlot& slot, GevStatus* status) {
    StreamState& stream = slot.stream;
    const uint8_t handle = slot.record.ownHandle;
    if (stream.delivered.Count() == 0) {
        *status = kGevTimeout;
        return nullptr;
    }
    DeviceLog(handle, kLogTrace, "Found %d images in the deliver list\n", stream.delivered.Count());
    GevBufferDescriptor* block = stream.delivered.TakeHead();
    if (block == nullptr) {
        DeviceLog(handle, kLogWarning, "[WARNING] -Time out while dequeuing an image (%d)\n",
                  handle);
        *status = kGevTimeout;
    }
    return block;
}

// The socket path's wait before a dequeue: false at once when no ring exists,
// so a stream that is not acquiring answers without waiting. The driver path
// waits inside the driver.
bool AwaitDelivery(DeviceSlot& slot) {
    if (slot.record.filterDriverOpen) return true;
    {
        std::lock_guard<std::recursive_mutex> guard(slot.streamLock);
        if (!slot.stream.ringReady) return false;
    }
    WaitForDelivery(slot);
    return true;
}

void ResetImageSignal(StreamState& stream) {
    std::lock_guard<std::mutex> guard(stream.imageLock);
    // Images still queued keep the event set: nothing waits in vain.
    stream.imageSignalled = stream.delivered.Count() != 0;
}

// Copies the block into `destination` (payload size bytes), removing X padding
// and zeroing rows a short trailer cut off.
void CopyImage(DeviceSlot& slot, GevBufferDescriptor& block, uint8_t* destination) {
    const uint32_t payloadSize = slot.stream.settings.payloadSize;
    const uint8_t handle = slot.record.ownHandle;
    DeviceLog(handle, kLogVerbose, "copy %dx%d pixel data in image memory\n", block.sizeX,
              block.sizeY);
    if (block.sizeX >= 0xFFFFFFFE) {
        std::memcpy(destination, block.data, std::min(block.sizeY, payloadSize));
        return;
    }
    const uint64_t bytesPerPixel = Gvsp::BytesPerPixel(block.pixelFormat);
    if (block.paddingX != 0) {
        const uint64_t row = bytesPerPixel * block.sizeX;
        const uint64_t stride = row + block.paddingX;
        uint64_t written = 0;
        for (uint32_t y = 0; y < block.sizeY; ++y) {
            const uint64_t from = y * stride;
            if (from + row > payloadSize || written + row > payloadSize) {
                if (slot.record.logMask & kLogInfo)
                    DeviceLog(handle, kLogInfo, "[INFO] -Wrong value of Padding X: %d\n",
                              block.paddingX);
                break;
            }
            std::memcpy(destination + written, block.data + from, row);
            written += row;
        }
        return;
    }
    if (block.sizeY == block.trailerSizeY) {
        std::memcpy(destination, block.data, payloadSize);
        DeviceLog(handle, kLogVerbose, "Copied: %d bytes, no adjustment needed\n", payloadSize);
        return;
    }
    block.sizeY = block.trailerSizeY;
    uint64_t planned = bytesPerPixel * block.trailerSizeY * block.sizeX;
    DeviceLog(handle, kLogInfo, "[INFO] -header/trailer (%d) size mismatch. Adjusted size to %d\n",
              block.trailerSizeY, planned);
    if (planned > payloadSize) {
        DeviceLog(handle, kLogError, "[ERROR] -planned size was beyond buffer size %d\n",
                  payloadSize);
        planned = payloadSize;
    }
    std::memcpy(destination, block.data, planned);
    std::memset(destination + planned, 0, payloadSize - planned);
    DeviceLog(handle, kLogVerbose, "Copied: %d bytes, now image header\n", planned);
}

}  // namespace

GevStatus GEVGetImageBuffer(uint8_t handle, GevImageInfo* info, void* destination) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (!AwaitDelivery(*slot)) return kGevNoRing;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    StreamState& stream = slot->stream;
    if (slot->record.filterDriverOpen) {
        void* target =
            destination != nullptr ? destination : slot->record.streamPacketBuffer.data();
        if (target == nullptr) return kGevNoRing;
        return FilterDriver::ReadImage(*slot, target, stream.settings.payloadSize, info,
                                       &stream.lastImageInfo);
    }
    if (!stream.ringReady) return kGevNoRing;
    GevStatus status = kGevOk;
    GevBufferDescriptor* block = TakeDelivered(*slot, &status);
    if (block == nullptr) return status;
    auto* target = static_cast<uint8_t*>(destination);
    if (target == nullptr) target = slot->record.streamPacketBuffer.data();
    CopyImage(*slot, *block, target);
    GevImageInfo delivered = InfoOf(*block);
    // The copy took the lines without their padding.
    if (block->sizeX < 0xFFFFFFFE) delivered.paddingX = 0;
    if (info != nullptr) *info = delivered;
    stream.lastImageInfo = delivered;
    const GevStatus result = block->status == kBlockIncomplete ? kGevImageIncomplete : kGevOk;
    stream.queued.Append(block);
    DeviceLog(handle, kLogVerbose, "Returned buffer to free list\n");
    ResetImageSignal(stream);
    DeviceLog(handle, kLogVerbose, "Buffer delivery notified\n");
    return result;
}

GevStatus GEVGetRingBufferImage(uint8_t handle, GevImageInfo* info, uint16_t* slotNumber) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (!AwaitDelivery(*slot)) return kGevNoRing;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    StreamState& stream = slot->stream;
    if (slot->record.filterDriverOpen)
        return FilterDriver::ReadSlot(*slot, slotNumber, info, &stream.lastImageInfo);
    if (!stream.ringReady) return kGevNoRing;
    GevStatus status = kGevOk;
    GevBufferDescriptor* block = TakeDelivered(*slot, &status);
    if (block == nullptr) return status;
    if (block->sizeY != block->trailerSizeY && block->sizeX < 0xFFFFFFFE)
        block->sizeY = block->trailerSizeY;
    const GevImageInfo delivered = InfoOf(*block);
    if (info != nullptr) *info = delivered;
    stream.lastImageInfo = delivered;
    if (slotNumber != nullptr) *slotNumber = block->index;
    const GevStatus result = block->status == kBlockIncomplete ? kGevImageIncomplete : kGevOk;
    // With no buffers to spare, an incomplete slot goes straight back.
    if (stream.releaseMode && result == kGevImageIncomplete)
        stream.queued.PutBackAtHead(block);
    else
        block->handedOut = true;
    ResetImageSignal(stream);
    return result;
}

GevStatus GEVQueueRingBuffer(uint8_t handle, uint64_t slotNumber) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    StreamState& stream = slot->stream;
    if (slot->record.filterDriverOpen)
        return FilterDriver::QueueSlot(*slot, slotNumber) == kGevOk ? kGevOk : kGevDriverFailed;
    const uint16_t index = static_cast<uint16_t>(slotNumber & 0xFFFF);
    if (!stream.ringReady) {
        // Before the start a user buffer's slot is only marked: the ring will
        // give the receiver the marked slots and keep the others back.
        if (index >= stream.userBuffers.size()) return kGevNoRing;
        stream.userSlotsQueued.resize(stream.userBuffers.size(), false);
        stream.userSlotsQueued[index] = true;
        return kGevOk;
    }
    if (index >= stream.ring.size()) return kGevNotSupported;
    GevBufferDescriptor* block = stream.ring[index].get();
    // A slot queued twice would be filled by two blocks at once.
    if (!block->handedOut) return kGevNotSupported;
    block->handedOut = false;
    stream.queued.Append(block);
    return kGevOk;
}

GevStatus GEVGetStreamStatistics(uint8_t handle, GevStreamStatistics* statistics) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (statistics == nullptr) return kGevOk;
    // Atomics: read without the stream lock, as the receive thread writes them.
    const StreamStatistics& counters = slot->stream.statistics;
    statistics->frames = counters.frameCount;
    statistics->missingFrames = counters.missingFrames;
    statistics->lostPackets = counters.lostPackets;
    statistics->resendRequested = counters.resendRequested;
    return kGevOk;
}

GevStatus GEVGetFrameRate(uint8_t handle, double* fps) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    StreamState& stream = slot->stream;
    if (slot->record.acquisitionIdle != 0 && stream.frameRate != 0.0) {
        if (fps != nullptr) *fps = stream.frameRate;
        return kGevOk;
    }
    if (slot->record.filterDriverOpen) {
        double rate = 0.0;
        if (FilterDriver::FrameRate(*slot, &rate) != kGevOk) return kGevDriverFailed;
        stream.frameRate = rate;
        if (fps != nullptr) *fps = rate;
        return kGevOk;
    }
    bool stable = false;
    const double rate = stream.meter.Read(&stable);
    if (!stable)
        DeviceLog(handle, kLogInfo,
                  "[INFO] -Fps computation for camera %d hasn't stabilized yet. Using running "
                  "average\n",
                  handle);
    stream.frameRate = rate;
    if (fps != nullptr) *fps = rate;
    return kGevOk;
}

}  // namespace Vantor
