// Pieces the stream-side operations share: the ring of an acquisition, the
// receive thread, the socket flush and the keep-alive of the source port.
#pragma once

#include <cstdint>

#include "DeviceTable.h"

namespace Vantor {

// Header bytes of a stream packet besides its data: IP, UDP and GVSP (8 or 20).
constexpr uint32_t kHeadersLegacy = 36;
constexpr uint32_t kHeadersExtended = 48;

// Builds the ring (slots, packet maps, lists, offsets); false when out of memory.
bool BuildRing(StreamState& stream);
void FreeRing(StreamState& stream);

// The receive thread of an acquisition.
void GrabThread(DeviceSlot* slot);

// The stream socket's receive buffer for frames of `payloadSize` bytes: a few
// whole frames, so that a receive thread kept off the processor for a while
// loses nothing; at least kLargeReceiveBuffer, at most kMaxStreamReceiveBuffer.
constexpr uint32_t kBufferedFrames = 4;
constexpr size_t kMaxStreamReceiveBuffer = size_t{64} << 20;
size_t StreamReceiveBufferSize(uint32_t payloadSize);

// Reads and drops whatever waits on the stream socket (at most 10 MiB).
size_t FlushStreamSocket(Platform::SocketHandle socket, size_t scratchSize);

// Opens the host side of the stream socket; 0 or a status.
GevStatus OpenStreamSocket(DeviceSlot& slot);

// Open access with a multicast group: another host controls the camera and
// this one only listens; the socket lives from start to stop.
bool ListensOnly(const DeviceRecord& record);
// The counters of an acquisition and the time of day, logged at start and stop.
void LogStatistics(DeviceSlot& slot);
void LogTime(uint8_t handle, const char* format);
// Warns when the system granted the stream socket less receive buffer than asked.
void WarnIfReceiveBufferShort(const DeviceRecord& record, size_t granted, size_t wanted);

// The socket back-end's hand-out of delivered ring slots (ImageDelivery.cpp).
bool RingAwaitDelivery(DeviceSlot& slot);
GevStatus RingWaitForImage(DeviceSlot* slot);
GevStatus RingCopyImage(DeviceSlot* slot, uint8_t* target, uint64_t capacity, GevImageInfo* info,
                        GevImageExtent* extent);
GevStatus RingTakeSlot(DeviceSlot* slot, GevImageInfo* info, GevImageExtent* extent,
                       uint16_t* slotNumber);
GevStatus RingQueueSlot(DeviceSlot* slot, uint64_t slotNumber);
GevStatus RingWithdrawSlot(DeviceSlot* slot, uint64_t slotNumber);
GevStatus RingFrameRate(DeviceSlot* slot, double* fps);

// Sends PACKETRESEND from the control socket under the control lock.
bool SendPacketResend(DeviceSlot& slot, uint64_t blockId, uint32_t first, uint32_t last,
                      bool extended);

}  // namespace Vantor
