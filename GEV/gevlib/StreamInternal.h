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

// Reads and drops whatever waits on the stream socket (at most 10 MiB).
size_t FlushStreamSocket(Platform::SocketHandle socket, size_t scratchSize);

// Opens the host side of the stream socket; 0 or a status.
GevStatus OpenStreamSocket(DeviceSlot& slot);

// Sends PACKETRESEND from the control socket under the control lock.
bool SendPacketResend(DeviceSlot& slot, uint64_t blockId, uint32_t first, uint32_t last,
                      bool extended);

}  // namespace Vantor
