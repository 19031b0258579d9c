// The control face of a device's stream channel: open and close it, start
// and stop acquisitions, and the settings the receive side reads.
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "Bootstrap.h"
#include "Clock.h"
#include "GevLog.h"
#include "GvspPackets.h"
#include "StreamInternal.h"
#include "UdpUtility.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

constexpr uint32_t kMulticastMask = 0xF0000000u;
constexpr uint32_t kMulticastPrefix = 0xE0000000u;

bool IsMulticast(uint32_t hostOrder) {
    return (hostOrder & kMulticastMask) == kMulticastPrefix;
}

void SendSourceKeepAlive(DeviceRecord& record) {
    static constexpr uint8_t kKeepAlive[4] = {0x78, 0x56, 0x34, 0x12};
    record.streamKeepAliveTick = Platform::TickCount();
    if (Platform::SendTo(record.streamSocket, kKeepAlive, sizeof kKeepAlive, record.cameraAddress,
                         record.streamSourcePort) < 0)
        DeviceLog(record.ownHandle, kLogError,
                  "[ERROR] -Send to stream channel source port. (%d)\n",
                  record.streamSourcePort.load());
}

void LogPercent(uint8_t handle, const char* format, uint64_t total, uint64_t errors,
                double percent) {
    const uint64_t whole = static_cast<uint64_t>(percent);
    const uint64_t hundredths = static_cast<uint64_t>(percent * 100) % 100;
    DeviceLog(handle, kLogInfo, format, total, errors, whole, hundredths);
}

}  // namespace

bool ListensOnly(const DeviceRecord& record) {
    return record.accessMode == kAccessModeOpen && record.multicastGroup != 0;
}

void LogStatistics(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    StreamState& stream = slot.stream;
    const uint8_t handle = record.ownHandle;
    const uint64_t frames = stream.statistics.frameCount;
    const uint64_t missing = stream.statistics.missingFrames;
    const uint64_t perBlock = stream.settings.packetsPerBlock;
    const uint64_t lost = stream.statistics.lostPackets;
    const double framePercent = frames == 0 ? 0.0 : missing / (frames / 100.0);
    DeviceLog(handle, kLogInfo, "[INFO] -Frames: %d, Errors: %d Lost: %d.%02d %%\n", frames,
              missing, static_cast<uint64_t>(framePercent),
              static_cast<uint64_t>(framePercent * 100) % 100);
    const double packetPercent =
        frames == 0 || perBlock == 0 ? 0.0 : lost / ((frames * perBlock) / 100.0);
    LogPercent(handle, "[INFO] -Packets: %llu Errors: %d Lost: %d.%02d %%\n", frames * perBlock,
               lost, packetPercent);
    if (stream.statistics.discardedBlocks != 0)
        DeviceLog(handle, kLogInfo, "[INFO] -Data blocks discarded on device side: %d\n",
                  stream.statistics.discardedBlocks.load());
    double fps = stream.frameRate;
    if (fps == 0.0) GEVGetFrameRate(handle, &fps);
    DeviceLog(handle, kLogInfo, "[INFO] -%d.%d fps\n", static_cast<int>(fps),
              static_cast<int>(fps * 10) % 10);
}

void LogTime(uint8_t handle, const char* format) {
    Platform::TimeOfDay now = Platform::LocalTimeOfDay();
    DeviceLog(handle, kLogInfo, format, now.hour, now.minute, now.second);
}

void WarnIfReceiveBufferShort(const DeviceRecord& record, size_t granted, size_t wanted) {
    if (granted < wanted)
        DeviceLog(record.ownHandle, kLogWarning,
                  "[WARNING] -Stream socket receive buffer is %d bytes, not %d: images may lose "
                  "packets at high rates. Raise net.core.rmem_max (sysctl) to fix this.\n",
                  granted, wanted);
}

GevStatus OpenStreamSocket(DeviceSlot& slot) {
    DeviceRecord& record = slot.record;
    size_t granted = 0;
    record.streamSocket =
        OpenUdpSocket(record.hostAddress, record.streamPort, false, true, true, &granted);
    if (record.streamSocket == Platform::kInvalidSocket) return kGevSocketCreateFailed;
    WarnIfReceiveBufferShort(record, granted, kLargeReceiveBuffer);
    if (record.multicastGroup != 0 &&
        !Platform::JoinMulticastGroup(record.streamSocket,
                                      Platform::HostToNetwork32(record.multicastGroup),
                                      record.hostAddress)) {
        CloseUdpSocket(record.streamSocket);
        record.streamSocket = Platform::kInvalidSocket;
        return kGevMulticastFailed;
    }
    return kGevOk;
}

size_t FlushStreamSocket(Platform::SocketHandle socket, size_t scratchSize) {
    constexpr size_t kFlushLimit = 0xA00000;
    // A camera that already streams never leaves 10 ms of silence: the drain
    // takes what is queued, not everything the camera goes on sending.
    constexpr auto kFlushTimeLimit = std::chrono::milliseconds(100);
    const auto deadline = std::chrono::steady_clock::now() + kFlushTimeLimit;
    std::vector<uint8_t> scratch(scratchSize);
    size_t drained = 0;
    while (drained <= kFlushLimit && std::chrono::steady_clock::now() < deadline &&
           Platform::WaitReadableMs(socket, 10) > 0) {
        int size = Platform::ReceiveFrom(socket, scratch.data(), scratch.size());
        if (size <= 0) break;
        drained += static_cast<size_t>(size);
        std::this_thread::yield();
    }
    return drained;
}

GevStatus GEVOpenStreamChannel(uint8_t handle, uint32_t hostAddress, uint16_t port,
                               uint32_t multicastGroup) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    if (record.streamSocket != Platform::kInvalidSocket) {
        CloseUdpSocket(record.streamSocket);
        record.streamSocket = Platform::kInvalidSocket;
    }
    if (record.accessMode != kAccessModeOpen) {
        record.streamPort = port;
        record.multicastGroup = multicastGroup;
    } else {
        uint32_t value = 0;
        if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPort, 1, &value))
            return status;
        record.streamPort = static_cast<uint16_t>(value);
        record.multicastGroup = multicastGroup;
        if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamDestination, 1, &value))
            return status;
        record.multicastGroup = IsMulticast(value) ? value : 0;
    }
    if (hostAddress != 0) record.hostAddress = hostAddress;
    char text[16];
    DeviceLog(handle, kLogInfo, "[INFO] -Open stream channel.\n");
    DeviceLog(handle, kLogInfo, "[INFO] -Stream channel IP: %s\n",
              Platform::AddressText(record.hostAddress, text));

    if (GevStatus status = OpenStreamSocket(*slot)) return status;
    auto fail = [&](GevStatus status) {
        CloseUdpSocket(record.streamSocket);
        record.streamSocket = Platform::kInvalidSocket;
        return status;
    };
    uint32_t destination = record.multicastGroup != 0
                               ? record.multicastGroup
                               : Platform::NetworkToHost32(record.hostAddress);
    if (GEVWriteRegister(handle, Bootstrap::kStreamDestination, 1, &destination) != kGevOk)
        DeviceLog(handle, kLogWarning,
                  "[WARNING] -Can't write to GevSCDA register to set stream channel ip address.\n");
    if (record.streamPort == 0) {
        record.streamPort = Platform::BoundPort(record.streamSocket);
        if (record.streamPort == 0) return fail(kGevSocketCreateFailed);
    }
    DeviceLog(handle, kLogInfo, "[INFO] -Stream channel port: %d\n", record.streamPort);
    uint32_t portValue = record.streamPort;
    if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kStreamPort, 1, &portValue))
        return fail(status);

    uint32_t capability = 0;
    if (GEVReadRegister(handle, Bootstrap::kGvspCapability, 1, &capability) != kGevOk) {
        record.streamSourcePort = 0;
    } else if (capability & Bootstrap::kCapSourcePort) {
        uint32_t sourcePort = 0;
        if (GevStatus status =
                GEVReadRegister(handle, Bootstrap::kStreamSourcePort, 1, &sourcePort))
            return fail(status);
        record.streamSourcePort = static_cast<uint16_t>(sourcePort);
        DeviceLog(handle, kLogInfo, "[INFO] -Stream channel source port: %d\n",
                  record.streamSourcePort.load());
        SendSourceKeepAlive(record);
    }
    // A listener reopens its socket at every start.
    if (ListensOnly(record)) {
        CloseUdpSocket(record.streamSocket);
        record.streamSocket = Platform::kInvalidSocket;
    }
    return kGevOk;
}

GevStatus GEVCloseStreamChannel(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    // The receive thread reads the socket given back below: it ends first.
    if (record.acquisitionIdle == 0) GEVAcquisitionStop(handle);
    record.streamSourcePort = 0;
    const uint32_t zero = 0;
    GevStatus status = GEVWriteRegister(handle, Bootstrap::kStreamPort, 1, &zero);
    CloseUdpSocket(record.streamSocket);
    record.streamSocket = Platform::kInvalidSocket;
    return status;
}

GevStatus GEVAcquisitionStartEx(uint8_t handle, uint32_t frameLimit, uint32_t payloadSize,
                                uint32_t width, uint32_t height, uint32_t pixelFormat) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    StreamState& stream = slot->stream;
    // A second start without a stop would leave the first receive thread behind
    // (also one that ended by itself at its frame limit).
    if (record.acquisitionIdle == 0 || stream.grabThread.joinable()) GEVAcquisitionStop(handle);
    if (payloadSize == 0) return kGevNotSupported;

    try {
        if (record.streamPacketBuffer.size() < payloadSize)
            record.streamPacketBuffer.resize(payloadSize);
    } catch (const std::bad_alloc&) {
        DeviceLog(handle, kLogError, "[ERROR] -Can't alloc memory. PayloadSize = %d\n",
                  payloadSize);
        return kGevOutOfMemory;
    }
    stream.settings.payloadSize = payloadSize;
    stream.meter.Reset(Platform::PerformanceFrequency());
    stream.statistics.Reset();
    stream.frameLimit = frameLimit;
    stream.frameRate = 0.0;

    uint32_t headers = record.gevMajor <= 1 ? kHeadersLegacy : kHeadersExtended;
    uint32_t gvspCapability = 0, gvspConfiguration = 0;
    if (GEVReadRegister(handle, Bootstrap::kGvspCapability, 1, &gvspCapability) == kGevOk &&
        (gvspCapability & Bootstrap::kCapBlockIdModeReadable) != 0 &&
        GEVReadRegister(handle, Bootstrap::kGvspConfiguration, 1, &gvspConfiguration) == kGevOk &&
        record.gevMajor >= 2 && (gvspConfiguration & Bootstrap::kConfigExtendedIds) == 0)
        headers = kHeadersLegacy;
    uint32_t streamConfiguration = 0;
    const bool extraPacket = GEVReadRegister(handle, Bootstrap::kStreamConfiguration, 1,
                                             &streamConfiguration) == kGevOk &&
                             (streamConfiguration & Bootstrap::kStreamConfigExtraPacket) != 0;
    uint32_t packetSize = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPacketSize, 1, &packetSize))
        return status;
    const uint32_t overhead = headers + (extraPacket ? 16 : 0);
    if ((packetSize & 0xFFFF) <= overhead) return kGevNotSupported;
    const uint32_t packetDataSize = (packetSize & 0xFFFF) - overhead;
    uint32_t packetDelay = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPacketDelay, 1, &packetDelay))
        return status;
    DeviceLog(handle, kLogInfo, "[INFO] -PacketDelay: %d\n", packetDelay);

    if (!ListensOnly(record)) {
        if (record.streamSocket == Platform::kInvalidSocket) return kGevSocketCreateFailed;
        const size_t drained = FlushStreamSocket(record.streamSocket, packetDataSize + headers);
        if ((record.logMask & kLogInfo) != 0 && drained > 0)
            DeviceLog(handle, kLogInfo, "[INFO] -Flush stream channel socket [len = %d].\n",
                      drained);
    } else if (record.streamSocket == Platform::kInvalidSocket) {
        if (GevStatus status = OpenStreamSocket(*slot)) return status;
    }

    StreamSettings& settings = stream.settings;
    settings.expectedWidth = width;
    settings.expectedHeight = height;
    settings.expectedPixelFormat = pixelFormat;
    settings.sizeOnlyCheck = width == 0 && height == 0 && pixelFormat == 0;
    settings.resendCount = record.resendCount;
    settings.packetDataSize = packetDataSize;
    settings.extraPacket = extraPacket;
    settings.packetsPerBlock =
        (payloadSize + packetDataSize - 1) / packetDataSize + (extraPacket ? 1 : 0);

    AcquisitionRequest request;
    request.width = width;
    request.height = height;
    request.pixelFormat = pixelFormat;
    request.payloadSize = payloadSize;
    request.packetDataSize = packetDataSize;
    request.extraPacket = extraPacket;
    return BackendOf(record).Start(*slot, request);
}

GevStatus GEVAcquisitionStop(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    StreamState& stream = slot->stream;
    DeviceLog(handle, kLogVerbose, "Ready to set KillGrab (currently %d)\n",
              record.acquisitionIdle.load());
    record.acquisitionIdle = 1;
    {
        std::lock_guard<std::mutex> imageGuard(stream.imageLock);
        stream.waitAborted = true;
    }
    stream.imageArrived.notify_all();
    return BackendOf(record).Stop(*slot);
}

GevStatus GEVGetBufferCount(uint8_t handle, uint16_t* count) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (count != nullptr) *count = slot->stream.bufferCount;
    return kGevOk;
}

GevStatus GEVSetBufferCount(uint8_t handle, uint16_t count) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    slot->stream.bufferCount = count;
    slot->stream.releaseMode = count == 0;
    return BackendOf(slot->record).SetBufferCount(*slot, count);
}

GevStatus GEVSetPacketResend(uint8_t handle, bool enable) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    uint32_t capability = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kGvcpCapability, 1, &capability))
        return status;
    if ((capability & Bootstrap::kCapPacketResend) == 0) return kGevNotSupported;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    slot->stream.settings.resendEnabled = enable;
    return BackendOf(slot->record).SetPacketResend(*slot, enable);
}

GevStatus GEVSetRingBuffer(uint8_t handle, uint64_t /*reserved*/, void* buffer) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    StreamState& stream = slot->stream;
    if (GevStatus status = BackendOf(slot->record).AnnounceBuffer(*slot, buffer)) return status;
    stream.userBuffers.push_back(static_cast<uint8_t*>(buffer));
    slot->record.userBufferCount = static_cast<uint16_t>(stream.userBuffers.size());
    stream.bufferCount = slot->record.userBufferCount;
    return kGevOk;
}

GevStatus GEVReleaseRingBuffer(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    if (GevStatus status = BackendOf(slot->record).ReleaseBuffers(*slot)) return status;
    slot->stream.userBuffers.clear();
    slot->stream.userSlotsQueued.clear();
    slot->record.userBufferCount = 0;
    return kGevOk;
}

}  // namespace Vantor
