#include "DeviceTable.h"

#include "MessageChannel.h"
#include "UdpUtility.h"

namespace Vantor {

void DeviceRecord::Reset() {
    controlSocket = Platform::kInvalidSocket;
    controlPort = 0;
    requestId = 1;
    commandTimeout = 200;
    timeoutSeconds = 0;
    timeoutMicroseconds = 200000;
    retryCount = 3;
    packetTimeout = 200;
    streamTimeout = 1000;
    resendCount = 10;
    streamPort = 0;
    hostAddress = 0;
    cameraAddress = 0;
    adapterName.clear();
    ownHandle = 0;
    accessMode = kAccessModeOpen;
    gevMajor = gevMinor = 0;
    packetDataSize = 0;
    keepAliveInterval = 30;
    socketsStarted = false;
    streamSocket = Platform::kInvalidSocket;
    streamPacketBuffer.clear();
    multicastGroup = 0;
    filterDriverOpen = false;
    streamBackend = &SocketStreamBackend();
    driverDevice.reset();
    userBufferCount = 0;
    acquisitionIdle = 1;
    logCallback = nullptr;
    logMask = kDefaultLogMask;
    connectionState = kConnected;
    heartbeatPeriod = 0;
    heartbeatStop = false;
    heartbeatRunning = false;
    pendingAck = false;
    deviceOpened = false;
    messageChannelAvailable = false;
    streamSourcePort = 0;
    streamKeepAliveTick = 0;
    messageSourcePort = 0;
    messageKeepAliveTick = 0;
    messageHandler = nullptr;
    lostHandler = nullptr;
}

DeviceSlot::~DeviceSlot() {
    if (stream.grabThread.joinable()) {
        record.acquisitionIdle = 1;
        stream.grabThread.join();
    }
    if (heartbeatThread.joinable()) {
        record.heartbeatStop = true;
        heartbeatWake.Set();
        heartbeatThread.join();
    }
}

std::array<DeviceSlot, kMaxDevices>& AllSlots() {
    // The message channel is made first so that it is destroyed last: a
    // heartbeat thread joined at unload may still be repairing it.
    static MessageChannel& channel = MessageChannel::Instance();
    (void)channel;
    static std::array<DeviceSlot, kMaxDevices> slots;
    return slots;
}

DeviceSlot* SlotOf(uint8_t handle) {
    if (handle == 0 || handle > kMaxDevices) return nullptr;
    return &AllSlots()[handle - 1];
}

DeviceSlot* OpenSlot(uint8_t handle) {
    DeviceSlot* slot = SlotOf(handle);
    return slot != nullptr && slot->inUse ? slot : nullptr;
}

void ReplaceControlSocket(DeviceSlot& slot, Platform::SocketHandle next) {
    std::lock_guard<std::mutex> guard(slot.controlSocketLock);
    CloseUdpSocket(slot.record.controlSocket);
    slot.record.controlSocket = next;
}

bool AnySlotInUse() {
    for (const DeviceSlot& slot : AllSlots())
        if (slot.inUse) return true;
    return false;
}

uint16_t NextRequestId(DeviceRecord& record) {
    uint16_t id = static_cast<uint16_t>(record.requestId);
    if (++record.requestId > 0xFFFF) record.requestId = 1;
    return id;
}

}  // namespace Vantor
