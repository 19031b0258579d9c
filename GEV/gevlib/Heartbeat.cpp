#include "Heartbeat.h"

#include <algorithm>
#include <mutex>

#include "Bootstrap.h"
#include "Clock.h"
#include "FilterDriver.h"
#include "GevLog.h"
#include "MessageChannel.h"
#include "UdpUtility.h"

namespace Vantor {
namespace {

constexpr uint8_t kStreamKeepAlive[4] = {0x78, 0x56, 0x34, 0x12};
// The camera's heartbeat time-out, as the period was derived from it.
uint32_t HeartbeatTimeoutOf(const DeviceRecord& record) {
    return std::max(record.heartbeatPeriod.load() * 3, kMinHeartbeatTimeoutMs);
}
// While a register read waits out a PENDING_ACK the heartbeat keeps off the
// camera; it looks again this often rather than spinning.
constexpr uint32_t kPendingPollMs = 5;

bool IsSocketFailure(GevStatus status) {
    return status == kGevSendFailed || status == kGevReceiveFailed || status == kGevSelectFailed;
}

void SendStreamKeepAlive(DeviceRecord& record) {
    int sent = Platform::SendTo(record.streamSocket, kStreamKeepAlive, sizeof kStreamKeepAlive,
                                record.cameraAddress, record.streamSourcePort);
    if (sent < 0)
        DeviceLog(record.ownHandle, kLogError,
                  "[ERROR] -Send to stream channel source port. (%d)\n",
                  record.streamSourcePort.load());
}

void KeepStreamPortOpen(DeviceRecord& record) {
    uint16_t port = record.streamSourcePort;
    if (port == 0 || record.streamSocket == Platform::kInvalidSocket) return;
    uint32_t now = Platform::TickCount();
    if ((now - record.streamKeepAliveTick) / 1000 < record.keepAliveInterval) return;
    record.streamKeepAliveTick = now;
    DeviceLog(record.ownHandle, kLogTrace, "Maintaining port %d open ...\n", port);
    SendStreamKeepAlive(record);
}

}  // namespace

void HeartbeatThread(DeviceSlot* slot) {
    DeviceRecord& record = slot->record;
    const uint8_t handle = record.ownHandle;
    DeviceLog(handle, kLogTrace, "Entering heartbeat loop (timeout=%d)\n",
              record.heartbeatPeriod.load());
    int failures = 0;
    uint32_t lastAnswer = Platform::TickCount();
    while (!record.heartbeatStop) {
        if (record.pendingAck) {
            slot->heartbeatWake.Wait(kPendingPollMs);
            continue;
        }
        uint32_t privilege = 0;
        GevStatus status = GEVReadRegister(handle, Bootstrap::kControlPrivilege, 1, &privilege);
        if (status != kGevOk) {
            if (failures == 0) {
                DeviceLog(handle, kLogWarning, "[WARNING] -CCP lost.\n");
                record.connectionState = kConnectionLost;
            }
            if (IsSocketFailure(status)) ReestablishControlSocket(*slot);
            ++failures;
            // A stall shorter than the camera's heartbeat time-out is ridden out,
            // the stream going on; past it the camera has dropped us, and it is lost.
            if (Platform::TickCount() - lastAnswer >= HeartbeatTimeoutOf(record)) {
                record.connectionState = kConnectionFailed;
                record.heartbeatStop = true;
                DeviceLog(handle, kLogError, "[ERROR] -CCP connection failure\n");
                // Told before the stop wakes the stream: whoever it wakes finds it said.
                if (GevLostHandler lost = record.lostHandler) lost(handle);
                if (record.acquisitionIdle == 0) GEVAcquisitionStop(handle);
                BackendOf(record).Release(handle);
                break;
            }
        } else {
            lastAnswer = Platform::TickCount();
            if (failures > 0) {
                DeviceLog(handle, kLogInfo, "[INFO] -CCP reconnection.\n");
                failures = 0;
            }
            if ((privilege & 3u) != record.accessMode) {
                DeviceLog(handle, kLogWarning, "[WARNING] -CCP access lost. Access mode reset.\n");
                uint32_t mode = record.accessMode;
                if (GEVWriteRegister(handle, Bootstrap::kControlPrivilege, 1, &mode) == kGevOk) {
                    ReestablishStreamChannel(*slot);
                    ReestablishMessageChannel(*slot);
                } else {
                    DeviceLog(handle, kLogError, "[ERROR] -Can't set mode in ccp register.\n");
                }
            } else {
                record.connectionState = kConnected;
                DeviceLog(handle, kLogVerbose, "Connection heartbeat confirmed\n");
            }
        }
        {
            // The stream socket may be closing on another thread: the keep-alive
            // goes out under the stream lock, or waits for the next beat.
            std::unique_lock<std::recursive_mutex> streamGuard(slot->streamLock, std::try_to_lock);
            if (streamGuard.owns_lock()) KeepStreamPortOpen(record);
        }
        // The period may come from a consumer's channel parameters too.
        if (slot->heartbeatWake.Wait(
                std::max(record.heartbeatPeriod.load(), kMinHeartbeatPeriodMs))) {
            DeviceLog(handle, kLogVerbose, "Inter-heartbeat delay interrupted.\n");
            slot->heartbeatWake.Reset();
        }
    }
    DeviceLog(handle, kLogTrace, "Left the hearthbeat loop\n");
}

void ReestablishControlSocket(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    DeviceLog(handle, kLogTrace, "ReconnectSocket\n");
    std::lock_guard<std::recursive_mutex> guard(slot.controlLock);
    ReplaceControlSocket(slot, Platform::kInvalidSocket);
    record.controlPort = 0;
    ReplaceControlSocket(slot, OpenUdpSocket(record.hostAddress, 0, false, false, false));
    if (record.controlSocket == Platform::kInvalidSocket) {
        DeviceLog(handle, kLogError, "[ERROR] -Create control port.\n");
        return;
    }
    record.controlPort = Platform::BoundPort(record.controlSocket);
    DeviceLog(handle, kLogInfo, "[INFO] -Control channel port: %d\n", record.controlPort);
    uint32_t mode = record.accessMode;
    GevStatus status = GEVWriteRegister(handle, Bootstrap::kControlPrivilege, 1, &mode);
    if (status != kGevOk)
        DeviceLog(handle, kLogError, "[ERROR] -Can't set mode in ccp register. Error code: %08X\n",
                  status);
}

void ReestablishStreamChannel(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    // A consumer may be closing the stream channel: its socket and port are read,
    // and the camera pointed at them, only under the stream lock, so that a channel
    // closed meanwhile stays closed. The heartbeat holds no other lock here.
    std::lock_guard<std::recursive_mutex> streamGuard(slot.streamLock);
    if (record.streamSocket == Platform::kInvalidSocket || record.accessMode == kAccessModeOpen)
        return;
    DeviceLog(handle, kLogTrace, "ReconnectStreamChannel\n");

    uint32_t value = 0;
    if (GEVReadRegister(handle, Bootstrap::kStreamDestination, 1, &value) != kGevOk) return;
    if (value == 0) {
        uint32_t destination =
            record.multicastGroup != 0 ? record.multicastGroup : record.hostAddress;
        uint32_t hostOrder = Platform::NetworkToHost32(destination);
        if (GEVWriteRegister(handle, Bootstrap::kStreamDestination, 1, &hostOrder) != kGevOk)
            return;
        char text[16];
        DeviceLog(handle, kLogInfo, "[INFO] -Set stream channel address: %s\n",
                  Platform::AddressText(destination, text));
    }
    if (GEVReadRegister(handle, Bootstrap::kStreamPort, 1, &value) != kGevOk) return;
    if (value == 0) {
        uint32_t port = record.streamPort;
        if (GEVWriteRegister(handle, Bootstrap::kStreamPort, 1, &port) != kGevOk) return;
        DeviceLog(handle, kLogInfo, "[INFO] -Set stream channel port: %d\n", port);
    }
    uint32_t capability = 0;
    if (GEVReadRegister(handle, Bootstrap::kGvspCapability, 1, &capability) != kGevOk) {
        record.streamSourcePort = 0;
        capability = 0;
    }
    if ((capability & Bootstrap::kCapSourcePort) == 0) {
        DeviceLog(handle, kLogInfo,
                  "[INFO] -Firewall Traversal not supported (capabilities = %x)\n", capability);
        return;
    }
    uint32_t sourcePort = 0;
    if (GEVReadRegister(handle, Bootstrap::kStreamSourcePort, 1, &sourcePort) != kGevOk) return;
    record.streamSourcePort = static_cast<uint16_t>(sourcePort);
    DeviceLog(handle, kLogInfo, "[INFO] -Stream channel source port: %d\n",
              record.streamSourcePort.load());
    record.streamKeepAliveTick = Platform::TickCount();
    SendStreamKeepAlive(record);
}

void OpenMessageSourcePort(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    uint32_t capability = 0;
    uint32_t sourcePort = 0;
    if (GEVReadRegister(handle, Bootstrap::kMessageCapability, 1, &capability) != kGevOk ||
        (capability & Bootstrap::kCapSourcePort) == 0 ||
        GEVReadRegister(handle, Bootstrap::kMessageSourcePort, 1, &sourcePort) != kGevOk) {
        record.messageSourcePort = 0;
        return;
    }
    record.messageSourcePort = static_cast<uint16_t>(sourcePort);
    DeviceLog(handle, kLogInfo, "[INFO] -Message channel source port: %d\n",
              record.messageSourcePort.load());
    static constexpr uint8_t kOpening[4] = {0x78, 0x56, 0x34, 0x12};
    if (MessageChannel::Instance().Send(record.cameraAddress, record.messageSourcePort, kOpening,
                                        sizeof kOpening) < 0)
        DeviceLog(handle, kLogError, "[ERROR] -Send to message channel source port. (%d)\n",
                  Platform::LastSocketError());
    // Due at once: the message thread sends the next keep-alive on its next pass.
    record.messageKeepAliveTick = Platform::TickCount() - record.keepAliveInterval * 1000;
}

void PointMessageChannelAtHost(DeviceRecord& record) {
    uint32_t host = Platform::NetworkToHost32(record.hostAddress);
    if (GEVWriteRegister(record.ownHandle, Bootstrap::kMessageDestination, 1, &host) != kGevOk)
        DeviceLog(
            record.ownHandle, kLogWarning,
            "[WARNING] -Can't write to GevMCDA register to set message channel ip address.\n");
}

void ReestablishMessageChannel(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    if (record.accessMode == kAccessModeOpen) return;
    DeviceLog(handle, kLogTrace, "ReconnectMessageChannel\n");
    uint32_t channels = 0;
    if (GEVReadRegister(handle, Bootstrap::kNumMessageChannels, 1, &channels) != kGevOk) {
        DeviceLog(handle, kLogError, "[ERROR] -Can't read register number of message channel.\n");
        return;
    }
    if (channels == 0) {
        DeviceLog(handle, kLogInfo, "[INFO] -Message channel is not available.\n");
        return;
    }
    DeviceLog(handle, kLogInfo, "[INFO] -Message channel is available.\n");
    PointMessageChannelAtHost(record);
    uint32_t port = MessageChannel::Instance().Port();
    if (GEVWriteRegister(handle, Bootstrap::kMessagePort, 1, &port) != kGevOk) {
        DeviceLog(handle, kLogError, "[ERROR] -Can't set message channel port.\n");
        return;
    }
    DeviceLog(handle, kLogInfo, "[INFO] -Message channel port: %d\n", port);
    OpenMessageSourcePort(slot);
}

}  // namespace Vantor
