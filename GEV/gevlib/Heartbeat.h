// The heartbeat thread of an open device and the repairs it makes: a new
// control socket after socket errors; privilege, stream channel and message
// channel set up again after the camera lost the privilege (a reboot).
#pragma once

#include "DeviceTable.h"

namespace Vantor {

// The shortest heartbeat time-out we go by: a camera reading 0 (or a few ms)
// must not make the heartbeat spin on the control channel.
constexpr uint32_t kMinHeartbeatTimeoutMs = 500;
constexpr uint32_t kMinHeartbeatPeriodMs = kMinHeartbeatTimeoutMs / 3;

// The period between heartbeats for a camera's heartbeat time-out.
inline uint32_t HeartbeatPeriodFor(uint32_t timeoutMs) {
    return (timeoutMs < kMinHeartbeatTimeoutMs ? kMinHeartbeatTimeoutMs : timeoutMs) / 3;
}

// Entry of the slot's heartbeat thread; runs until the stop flag is set or
// the connection has failed.
void HeartbeatThread(DeviceSlot* slot);

void ReestablishControlSocket(DeviceSlot& slot);
void ReestablishStreamChannel(DeviceSlot& slot);
void ReestablishMessageChannel(DeviceSlot& slot);

// Writes the host address to the camera's message channel destination;
// a failure is only a warning.
void PointMessageChannelAtHost(DeviceRecord& record);

// Reads the camera's message channel source port (when it has one), sends a
// keep-alive to it and makes the message thread send the next one at once.
void OpenMessageSourcePort(DeviceSlot& slot);

}  // namespace Vantor
