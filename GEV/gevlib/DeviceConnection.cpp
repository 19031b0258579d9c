// GEVOpenDevice and GEVClose: a camera's control channel in a slot of the
// device table, its privilege, heartbeat thread and message channel.
#include <cstring>
#include <mutex>

#include "Bootstrap.h"
#include "Clock.h"
#include "DebugOutput.h"
#include "FilterDriver.h"
#include "GevLog.h"
#include "Heartbeat.h"
#include "MessageChannel.h"
#include "UdpUtility.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

void StopHeartbeat(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    record.heartbeatStop = true;
    slot.heartbeatWake.Set();
    // Always joined: the thread leaves within one exchange once it sees the flag.
    if (slot.heartbeatThread.joinable()) slot.heartbeatThread.join();
    record.heartbeatRunning = false;
}

// Releases what a failed open had set up and frees the slot.
GevStatus FailOpen(DeviceSlot& slot, GevStatus status) {
    StopHeartbeat(slot);
    {
        std::lock_guard<std::recursive_mutex> guard(slot.controlLock);
        ReplaceControlSocket(slot, Platform::kInvalidSocket);
        slot.inUse = false;
    }
    MessageChannel::Instance().SetHandler(slot.record, nullptr);
    slot.record.messageChannelAvailable = false;
    // The open may have started the message channel: the last device leaving stops it.
    if (slot.record.accessMode != kAccessModeOpen && !AnySlotInUse())
        MessageChannel::Instance().Shutdown();
    slot.record.logCallback = nullptr;
    if (slot.record.socketsStarted) Platform::StopSockets();
    slot.record.socketsStarted = false;
    return status;
}

// Sets up the message channel of a camera opened with privilege; returns the
// status of the one step that fails the open (writing the message port).
GevStatus SetUpMessageChannel(DeviceSlot& slot, uint32_t gvcpCapability, uint16_t messagePort) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    uint32_t channels = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kNumMessageChannels, 1, &channels))
        return status;
    if (channels == 0) {
        DeviceLog(handle, kLogInfo, "[INFO] -Message channel is not available.\n");
        return kGevOk;
    }
    if ((gvcpCapability & (Bootstrap::kCapEvent | Bootstrap::kCapEventData)) == 0) {
        DeviceLog(handle, kLogWarning,
                  "[WARNING] - Message channel is available, but EVENT or EVENTDATA commands not "
                  "enabled in the GVCP Capability register.\n");
        DeviceLog(handle, kLogInfo, "[INFO] -Message channel is not available.\n");
        return kGevOk;
    }
    DeviceLog(handle, kLogInfo, "[INFO] -Message channel is available.\n");
    PointMessageChannelAtHost(record);

    MessageChannel& channel = MessageChannel::Instance();
    bool opened = false;
    if (!channel.EnsureOpen(messagePort, &opened))
        DeviceLog(handle, kLogWarning, "[WARNING] -Can't open message channel port.\n");
    else if (opened)
        DeviceLog(handle, kLogInfo, "[INFO] -Open message channel port.\n");
    if (channel.Port() == 0 && !channel.ReadBoundPort())
        DeviceLog(handle, kLogWarning, "[WARNING] -Can't get message channel port\n");
    uint32_t port = channel.Port();
    if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kMessagePort, 1, &port))
        return status;
    DeviceLog(handle, kLogInfo, "[INFO] -Message channel port: %d\n", port);
    record.messageChannelAvailable = true;
    OpenMessageSourcePort(slot);
    return kGevOk;
}

void LogTimeOfDay(uint8_t handle, const char* format) {
    Platform::TimeOfDay now = Platform::LocalTimeOfDay();
    DeviceLog(handle, kLogInfo, format, now.hour, now.minute, now.second);
}

// Reads the stream channel facts; the channel itself is opened later.
GevStatus ReadStreamChannelFacts(DeviceRecord& record) {
    const uint8_t handle = record.ownHandle;
    uint32_t channels = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kNumStreamChannels, 1, &channels))
        return status;
    if (channels == 0) {
        DeviceLog(handle, kLogInfo, "[INFO] -Stream channel is not available.\n");
        return kGevOk;
    }
    uint32_t version = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kVersion, 1, &version)) return status;
    record.gevMajor = static_cast<uint16_t>(version >> 16);
    record.gevMinor = static_cast<uint16_t>(version);
    DeviceLog(handle, kLogInfo, "[INFO] -GEV Version: %d.%d\n", record.gevMajor, record.gevMinor);
    uint32_t packetSize = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPacketSize, 1, &packetSize))
        return status;
    // IP, UDP and GVSP headers: 36 bytes, 48 with the extended ids of GEV 2.
    uint32_t headers = record.gevMajor < 2 ? 36 : 48;
    uint32_t size = packetSize & 0xFFFF;
    record.packetDataSize = size > headers ? size - headers : 0;
    DeviceLog(handle, kLogInfo, "[INFO] -Stream channel is available.\n");
    return kGevOk;
}

// Empties an open slot; the caller holds its lifecycle lock.
GevStatus CloseSlot(uint8_t handle, DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    if (record.acquisitionIdle == 0) GEVAcquisitionStop(handle);
    BackendOf(record).Release(handle);
    if (record.accessMode != kAccessModeOpen && record.heartbeatRunning) StopHeartbeat(slot);

    GevStatus status = kGevOk;
    uint32_t channels = 0;
    status = GEVReadRegister(handle, Bootstrap::kNumMessageChannels, 1, &channels);
    if (status == kGevOk) {
        const uint32_t zero = 0;
        if (channels != 0) {
            record.messageSourcePort = 0;
            status = GEVWriteRegister(handle, Bootstrap::kMessagePort, 1, &zero);
        }
        if (status == kGevOk)
            status = GEVWriteRegister(handle, Bootstrap::kControlPrivilege, 1, &zero);
    }

    MessageChannel::Instance().SetHandler(record, nullptr);
    {
        std::lock_guard<std::recursive_mutex> guard(slot.controlLock);
        ReplaceControlSocket(slot, Platform::kInvalidSocket);
        CloseUdpSocket(record.streamSocket);
        record.streamSocket = Platform::kInvalidSocket;
        record.streamPacketBuffer.clear();
        record.streamPacketBuffer.shrink_to_fit();
        slot.stream.Reset();
        record.messageChannelAvailable = false;
        slot.inUse = false;
    }
    LogTimeOfDay(handle, "[INFO] -Close device time: %02d:%02d:%02d\n");
    record.logCallback = nullptr;

    if (record.accessMode != kAccessModeOpen && !AnySlotInUse())
        MessageChannel::Instance().Shutdown();
    if (record.socketsStarted) Platform::StopSockets();
    record.socketsStarted = false;
    record.deviceOpened = false;
    return status;
}

}  // namespace

GevStatus GEVOpenDevice(uint8_t handle, const GevOpenParams* params, GevLogCallback logCallback,
                        uint8_t /*reserved*/, uint8_t accessMode) {
    DeviceSlot* slot = SlotOf(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (params == nullptr) return kGevNotSupported;
    if ((params->hostAddress & params->subnetMask) !=
        (params->cameraAddress & params->subnetMask)) {
        DevicelessLog("[ERROR] -subnet mismatch: pc=%x, camera=%x, mask=%x\n", params->hostAddress,
                      params->cameraAddress, params->subnetMask);
        return kGevSubnetMismatch;
    }

    std::lock_guard<std::mutex> lifecycle(slot->lifecycleLock);
    if (slot->inUse) {
        if (slot->record.connectionState != kConnectionFailed) return kGevSlotInUse;
        CloseSlot(handle, *slot);
    }

    DeviceRecord& record = slot->record;
    // A heartbeat that ended on a connection failure is joined before the slot is reused.
    if (slot->heartbeatThread.joinable()) StopHeartbeat(*slot);
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        record.Reset();
        record.controlPort = params->controlPort;
        record.streamPort = params->streamPort;
        record.hostAddress = params->hostAddress;
        record.cameraAddress = params->cameraAddress;
        record.adapterName.assign(params->adapterName,
                                  strnlen(params->adapterName, kAdapterNameSize - 1));
        record.accessMode = accessMode;
        record.logCallback = logCallback;
        record.ownHandle = handle;
        slot->heartbeatWake.Reset();
        slot->inUse = true;
    }

    VersionReport(handle);
    record.socketsStarted = StartSocketsOrWarn();

    DeviceLog(handle, kLogInfo, "[INFO] -Open control port.\n");
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        ReplaceControlSocket(
            *slot, OpenUdpSocket(record.hostAddress, record.controlPort, false, false, false));
        if (record.controlSocket == Platform::kInvalidSocket) {
            DeviceLog(handle, kLogError, "[ERROR] -Create control port.\n");
            return FailOpen(*slot, kGevSocketCreateFailed);
        }
        if (record.controlPort == 0) record.controlPort = Platform::BoundPort(record.controlSocket);
    }
    DeviceLog(handle, kLogInfo, "[INFO] -Control channel port: %d\n", record.controlPort);

    uint32_t privilege = 0;
    if (accessMode != kAccessModeOpen &&
        GEVReadRegister(handle, Bootstrap::kControlPrivilege, 1, &privilege) != kGevOk) {
        DeviceLog(handle, kLogInfo, "[INFO] -Device already opened.\n");
        return FailOpen(*slot, kGevOpenedByOther);
    }
    record.connectionState = kConnected;
    uint32_t mode = accessMode;
    if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kControlPrivilege, 1, &mode))
        return FailOpen(*slot, status);

    if (accessMode != kAccessModeOpen) {
        DeviceLog(handle, kLogInfo, "[INFO] -Start heartbeat thread.\n");
        uint32_t timeout = 0;
        if (GevStatus status = GEVReadRegister(handle, Bootstrap::kHeartbeatTimeout, 1, &timeout))
            return FailOpen(*slot, status);
        record.heartbeatPeriod = HeartbeatPeriodFor(timeout);
        record.heartbeatStop = false;
        try {
            slot->heartbeatThread = std::thread(HeartbeatThread, slot);
        } catch (const std::system_error&) {
            return FailOpen(*slot, kGevHeartbeatThreadFailed);
        }
        record.heartbeatRunning = true;
    }

    uint32_t gvcpCapability = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kGvcpCapability, 1, &gvcpCapability))
        return FailOpen(*slot, status);
    if (accessMode != kAccessModeOpen) {
        if (GevStatus status = SetUpMessageChannel(*slot, gvcpCapability, params->messagePort))
            return FailOpen(*slot, status);
    }
    if (GevStatus status = ReadStreamChannelFacts(record)) return FailOpen(*slot, status);

    record.deviceOpened = true;
    LogTimeOfDay(handle, "[INFO] -Init device time: %02d:%02d:%02d\n");
    return kGevOk;
}

GevStatus GEVOpenFreeDevice(const GevOpenParams* params, GevLogCallback logCallback,
                            uint8_t accessMode, uint8_t* handle) {
    if (handle == nullptr) return kGevNotSupported;
    for (uint8_t candidate = 1; candidate <= kMaxDevices; ++candidate) {
        DeviceSlot& slot = *SlotOf(candidate);
        bool expected = false;
        if (slot.inUse || !slot.claimed.compare_exchange_strong(expected, true)) continue;
        // Opened by a direct GEVOpenDevice since: kGevSlotInUse, try the next.
        const GevStatus status = slot.inUse
                                     ? kGevSlotInUse
                                     : GEVOpenDevice(candidate, params, logCallback, 0, accessMode);
        slot.claimed = false;
        if (status == kGevSlotInUse) continue;
        *handle = candidate;
        return status;
    }
    return kGevSlotInUse;
}

GevStatus GEVClose(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::mutex> lifecycle(slot->lifecycleLock);
    if (!slot->inUse) return kGevHandleNotOpen;
    return CloseSlot(handle, *slot);
}

bool GEVIsOpen(uint8_t handle) {
    return OpenSlot(handle) != nullptr;
}

bool GEVIsDeviceLost(uint8_t handle) {
    const DeviceSlot* slot = OpenSlot(handle);
    return slot != nullptr && slot->record.connectionState == kConnectionFailed;
}

void GEVPrepareLibrary() {
    Platform::PrepareDebugOutput();
    Platform::PrepareDriverDevices();
    // The device table makes the message channel first.
    SlotOf(1);
}

GevStatus GEVSetLostHandler(uint8_t handle, GevLostHandler handler) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    slot->record.lostHandler = handler;
    return kGevOk;
}

GevStatus GEVGetHeartbeatRate(uint8_t handle, uint32_t* timeoutMs) {
    if (OpenSlot(handle) == nullptr) return kGevHandleNotOpen;
    uint32_t value = 0;
    GevStatus status = GEVReadRegister(handle, Bootstrap::kHeartbeatTimeout, 1, &value);
    if (status == kGevOk && timeoutMs != nullptr) *timeoutMs = value;
    return status;
}

GevStatus GEVSetHeartbeatRate(uint8_t handle, uint32_t timeoutMs) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (timeoutMs < 500) timeoutMs = 500;
    if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kHeartbeatTimeout, 1, &timeoutMs))
        return status;
    slot->record.heartbeatPeriod = HeartbeatPeriodFor(timeoutMs);
    slot->heartbeatWake.Set();
    return kGevOk;
}

GevStatus GEVSetMessageHandler(uint8_t handle, GevMessageHandler handler) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (!slot->record.messageChannelAvailable) return kGevNotSupported;
    MessageChannel::Instance().SetHandler(slot->record, handler);
    return kGevOk;
}

}  // namespace Vantor
