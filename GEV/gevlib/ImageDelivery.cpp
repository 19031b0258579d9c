// Hand-out of delivered images to the consumer side: by copy
// (GEVGetImageBuffer) or by slot (GEVGetRingBufferImage, GEVQueueRingBuffer,
// GEVWithdrawRingBuffer), the wait for them, the counters and the frame rate.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

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
// stops or the receive thread leaves, or the stream time-out passes: a consumer
// giving a ring slot back (GEVQueueRingBuffer) must not wait for an image that
// needs that very slot.
void WaitForDelivery(DeviceSlot& slot) {
    StreamState& stream = slot.stream;
    if (stream.delivered.Count() != 0) return;
    const uint8_t handle = slot.record.ownHandle;
    DeviceLog(handle, kLogTrace, "No images available in deliver list. Wait.\n");
    const uint32_t timeout = slot.record.streamTimeout;
    std::unique_lock<std::mutex> lock(stream.imageLock);
    const bool arrived = stream.imageArrived.wait_for(
        lock, std::chrono::milliseconds(timeout),
        [&] { return stream.imageSignalled || stream.waitAborted || stream.receiveEnded; });
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

}  // namespace

// False at once when no ring exists, so a stream that is not acquiring answers
// without waiting.
bool RingAwaitDelivery(DeviceSlot& slot) {
    {
        std::lock_guard<std::recursive_mutex> guard(slot.streamLock);
        if (!slot.stream.ringReady) return false;
    }
    WaitForDelivery(slot);
    return true;
}

namespace {

void ResetImageSignal(StreamState& stream) {
    std::lock_guard<std::mutex> guard(stream.imageLock);
    // Images still queued keep the event set: nothing waits in vain.
    stream.imageSignalled = stream.delivered.Count() != 0;
}

// A plain image's lines lose their X padding in a copy; with chunks after the
// image, or in a slot handed out as it is, the bytes stay where the camera put them.
bool StripsPadding(const GevBufferDescriptor& block) {
    return block.payloadType == Gvsp::kImage && block.paddingX != 0 &&
           Gvsp::LineBytes(block.pixelFormat, block.sizeX) != 0;
}

bool IsMultiPart(uint16_t payloadType) {
    return payloadType == Gvsp::kMultiPart || payloadType == Gvsp::kMultiPartWithChunk;
}

// The parts of a multi-part block as they stand in `capacity` bytes: a part that
// reaches past them is cut to what they hold, and its lines with it.
void DescribeParts(const GevBufferDescriptor& block, uint64_t capacity,
                   std::vector<GevImagePart>* parts) {
    parts->clear();
    if (!IsMultiPart(block.payloadType)) return;
    parts->reserve(block.parts.size());
    for (const Gvsp::PartDescriptor& from : block.parts) {
        GevImagePart part;
        part.dataType = from.dataType;
        part.pixelFormat = from.pixelFormat;
        part.sourceId = from.sourceId;
        part.additionalZones = from.additionalZones;
        part.zoneDirections = from.zoneDirections;
        part.dataPurposeId = from.dataPurposeId;
        part.regionId = from.regionId;
        part.sizeX = from.sizeX;
        part.sizeY = from.sizeY;
        part.offsetX = from.offsetX;
        part.offsetY = from.offsetY;
        part.paddingX = from.paddingX;
        part.paddingY = from.paddingY;
        part.offset = std::min(from.start, capacity);
        part.length = from.length;
        part.heldSize = from.start >= capacity ? 0 : std::min(from.length, capacity - from.start);
        // A trailer only ever cuts lines, as for a plain image.
        uint64_t rows = from.sizeY;
        if (from.trailerSizeY != 0) rows = std::min<uint64_t>(rows, from.trailerSizeY);
        const uint64_t line = Gvsp::LineBytes(from.pixelFormat, from.sizeX) + from.paddingX;
        if (line != 0) rows = std::min(rows, part.heldSize / line);
        part.heldSizeY = static_cast<uint32_t>(rows);
        parts->push_back(part);
    }
}

// The description of `block` as it stands in `capacity` bytes (padding stripped
// or not): the geometry handed out never exceeds what the buffer holds.
void Describe(const GevBufferDescriptor& block, uint64_t capacity, bool stripped, uint64_t filled,
              GevImageInfo* info, GevImageExtent* extent) {
    *info = InfoOf(block);
    extent->dataSize = block.dataSize != 0 ? block.dataSize : std::max(block.dataEnd, block.filled);
    extent->filledSize = filled;
    bool cut = block.overflow || extent->dataSize > capacity;
    if (Gvsp::IsImage(block.payloadType)) {
        const uint64_t rows = std::min(block.trailerSizeY, block.sizeY);
        const uint64_t line =
            Gvsp::LineBytes(block.pixelFormat, block.sizeX) + (stripped ? 0 : block.paddingX);
        uint64_t fit = rows;
        if (line != 0) fit = std::min<uint64_t>(rows, capacity / line);
        if (stripped) {
            info->paddingX = 0;
            // The copy holds the lines without their padding, and only those.
            cut = block.overflow || fit < rows;
            extent->dataSize = line * rows;
        }
        cut = cut || fit < rows;
        info->sizeY = static_cast<uint32_t>(fit);
    } else {
        info->sizeX = 0xFFFFFFFF;
        info->sizeY = static_cast<uint32_t>(std::min<uint64_t>(filled, 0xFFFFFFFFu));
    }
    // A chunk walk reads from the end of the chunk data: it may not start past the bytes held.
    info->chunkDataLength =
        static_cast<uint32_t>(std::min<uint64_t>(block.chunkDataLength, filled));
    extent->largerThanBuffer = cut;
    DescribeParts(block, capacity, &extent->parts);
}

// Copies the block into `destination` (`capacity` bytes): the lines of a padded
// plain image without their padding, anything else as it was received. Returns
// the bytes written.
uint64_t CopyBlock(DeviceSlot& slot, const GevBufferDescriptor& block, uint8_t* destination,
                   uint64_t capacity) {
    const uint8_t handle = slot.record.ownHandle;
    const uint64_t held = std::min<uint64_t>(block.filled, slot.stream.settings.payloadSize);
    DeviceLog(handle, kLogVerbose, "copy %dx%d pixel data in image memory\n", block.sizeX,
              block.sizeY);
    if (!StripsPadding(block)) {
        const uint64_t bytes = std::min(held, capacity);
        std::memcpy(destination, block.data, bytes);
        DeviceLog(handle, kLogVerbose, "Copied: %d bytes, no adjustment needed\n", bytes);
        return bytes;
    }
    const uint64_t row = Gvsp::LineBytes(block.pixelFormat, block.sizeX);
    const uint64_t stride = row + block.paddingX;
    const uint64_t rows = std::min(block.trailerSizeY, block.sizeY);
    uint64_t written = 0;
    for (uint64_t y = 0; y < rows; ++y) {
        const uint64_t from = y * stride;
        if (from + row > held || written + row > capacity) {
            if (slot.record.logMask & kLogInfo)
                DeviceLog(handle, kLogInfo, "[INFO] -Wrong value of Padding X: %d\n",
                          block.paddingX);
            break;
        }
        std::memcpy(destination + written, block.data + from, row);
        written += row;
    }
    return written;
}

GevStatus StatusOf(const GevBufferDescriptor& block, const GevImageExtent& extent) {
    return block.status == kBlockIncomplete || extent.largerThanBuffer ? kGevImageIncomplete
                                                                       : kGevOk;
}

}  // namespace

GevStatus RingWaitForImage(DeviceSlot* slot) {
    if (!RingAwaitDelivery(*slot)) return kGevNoRing;
    StreamState& stream = slot->stream;
    if (stream.delivered.Count() != 0) return kGevOk;
    std::lock_guard<std::mutex> guard(stream.imageLock);
    return stream.receiveEnded ? kGevAcquisitionEnded : kGevTimeout;
}

GevStatus RingCopyImage(DeviceSlot* slot, uint8_t* target, uint64_t capacity, GevImageInfo* info,
                        GevImageExtent* extent) {
    const uint8_t handle = slot->record.ownHandle;
    StreamState& stream = slot->stream;
    if (!stream.ringReady) return kGevNoRing;
    GevStatus status = kGevOk;
    GevBufferDescriptor* block = TakeDelivered(*slot, &status);
    if (block == nullptr) return status;
    const uint64_t written = CopyBlock(*slot, *block, target, capacity);
    GevImageInfo delivered{};
    Describe(*block, capacity, StripsPadding(*block), written, &delivered, extent);
    if (info != nullptr) *info = delivered;
    stream.lastImageInfo = delivered;
    const GevStatus result = StatusOf(*block, *extent);
    stream.queued.Append(block);
    DeviceLog(handle, kLogVerbose, "Returned buffer to free list\n");
    ResetImageSignal(stream);
    DeviceLog(handle, kLogVerbose, "Buffer delivery notified\n");
    return result;
}

GevStatus RingTakeSlot(DeviceSlot* slot, GevImageInfo* info, GevImageExtent* extent,
                       uint16_t* slotNumber) {
    StreamState& stream = slot->stream;
    const uint64_t capacity = stream.settings.payloadSize;
    if (!stream.ringReady) return kGevNoRing;
    GevStatus status = kGevOk;
    GevBufferDescriptor* block = TakeDelivered(*slot, &status);
    if (block == nullptr) return status;
    GevImageInfo delivered{};
    Describe(*block, capacity, false, std::min<uint64_t>(block->filled, capacity), &delivered,
             extent);
    const GevStatus result = StatusOf(*block, *extent);
    if (stream.releaseMode && result == kGevImageIncomplete) {
        // With no buffers to spare, an incomplete slot goes straight back to the
        // receiver: its frame is not handed out at all, and counts as lost.
        stream.queued.PutBackAtHead(block);
        ++stream.statistics.lostFrames;
        ResetImageSignal(stream);
        return kGevTimeout;
    }
    if (info != nullptr) *info = delivered;
    stream.lastImageInfo = delivered;
    if (slotNumber != nullptr) *slotNumber = block->index;
    block->handedOut = true;
    ResetImageSignal(stream);
    return result;
}

GevStatus GEVWaitForImage(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    return BackendOf(slot->record).WaitForImage(*slot);
}

GevStatus GEVGetImageBuffer(uint8_t handle, GevImageInfo* info, void* destination) {
    // A destination of the payload size: the hand-out bounds every copy by it.
    return GEVGetImageBufferEx(handle, info, nullptr, destination, ~uint64_t{0});
}

GevStatus GEVGetImageBufferEx(uint8_t handle, GevImageInfo* info, GevImageExtent* extent,
                              void* destination, uint64_t destinationSize) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    StreamBackend& backend = BackendOf(slot->record);
    if (!backend.AwaitDelivery(*slot)) return kGevNoRing;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    GevImageExtent scratch{};
    if (extent == nullptr) extent = &scratch;
    auto* target = static_cast<uint8_t*>(destination);
    if (target == nullptr) {
        target = slot->record.streamPacketBuffer.data();
        destinationSize = slot->record.streamPacketBuffer.size();
    }
    const uint64_t capacity =
        std::min<uint64_t>(destinationSize, slot->stream.settings.payloadSize);
    return backend.CopyImage(*slot, target, capacity, info, extent);
}

GevStatus GEVGetRingBufferImage(uint8_t handle, GevImageInfo* info, uint16_t* slotNumber) {
    return GEVGetRingBufferImageEx(handle, info, nullptr, slotNumber);
}

GevStatus GEVGetRingBufferImageEx(uint8_t handle, GevImageInfo* info, GevImageExtent* extent,
                                  uint16_t* slotNumber) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    StreamBackend& backend = BackendOf(slot->record);
    if (!backend.AwaitDelivery(*slot)) return kGevNoRing;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    GevImageExtent scratch{};
    if (extent == nullptr) extent = &scratch;
    return backend.TakeSlot(*slot, info, extent, slotNumber);
}

GevStatus GEVQueueRingBuffer(uint8_t handle, uint64_t slotNumber) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    return BackendOf(slot->record).QueueSlot(*slot, slotNumber);
}

GevStatus RingQueueSlot(DeviceSlot* slot, uint64_t slotNumber) {
    StreamState& stream = slot->stream;
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

GevStatus GEVWithdrawRingBuffer(uint8_t handle, uint64_t slotNumber) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    return BackendOf(slot->record).WithdrawSlot(*slot, slotNumber);
}

GevStatus RingWithdrawSlot(DeviceSlot* slot, uint64_t slotNumber) {
    StreamState& stream = slot->stream;
    const uint16_t index = static_cast<uint16_t>(slotNumber & 0xFFFF);
    if (!stream.ringReady) {
        if (index < stream.userSlotsQueued.size()) stream.userSlotsQueued[index] = false;
        return kGevOk;
    }
    if (index >= stream.ring.size()) return kGevNotSupported;
    GevBufferDescriptor* block = stream.ring[index].get();
    if (block->handedOut) return kGevOk;
    // Under the list's lock: either the receiver took the slot first, or it never will.
    if (!stream.queued.Remove(block)) return kGevRingSlotBusy;
    block->handedOut = true;
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
    statistics->resentPackets = counters.resentPackets;
    statistics->framesStarted = counters.framesStarted;
    statistics->underrunFrames = counters.underrunFrames;
    statistics->lostFrames = counters.lostFrames;
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
    return BackendOf(slot->record).FrameRate(*slot, fps);
}

GevStatus RingFrameRate(DeviceSlot* slot, double* fps) {
    const uint8_t handle = slot->record.ownHandle;
    StreamState& stream = slot->stream;
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
