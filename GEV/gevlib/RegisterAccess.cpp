// GEVReadRegister, GEVWriteRegister, GEVReadMemory, GEVWriteMemory and the
// channel parameters: every exchange runs under the slot's control lock.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "GevLog.h"
#include "GvcpExchange.h"
#include "GvcpPackets.h"
#include "MemoryChunks.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

constexpr uint32_t kGvcpCapabilityRegister = 0x0934;
constexpr uint32_t kHeartbeatTimeoutRegister = 0x0938;
constexpr uint32_t kCapabilityWriteMem = 0x00000002;

// Open and not failed: the common gate of the register operations.
GevStatus RegisterGate(uint8_t handle, DeviceSlot*& slot) {
    slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (slot->record.connectionState == kConnectionFailed) return kGevStatusAccessDenied;
    return kGevOk;
}

}  // namespace

GevStatus GEVReadRegister(uint8_t handle, uint32_t address, uint8_t count, uint32_t* values) {
    DeviceSlot* slot = nullptr;
    if (GevStatus gate = RegisterGate(handle, slot)) return gate;
    if (count == 0 || values == nullptr) return kGevOk;

    ExchangeResult result;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        // Close may have emptied the slot while we waited for the lock.
        if (!slot->inUse) return kGevHandleNotOpen;
        DeviceRecord& record = slot->record;
        std::vector<uint8_t> command(Gvcp::kHeaderSize + 4 * size_t{count});
        std::vector<uint8_t> ack(Gvcp::kHeaderSize + 4 * size_t{count});
        uint16_t requestId = NextRequestId(record);
        ExchangeRequest request{
            command.data(),
            Gvcp::BuildReadReg(command.data(), requestId, address, count),
            requestId,
            Gvcp::kReadRegAck,
            ack.size(),
            kGevReceiveFailed,
            false,
            true,
            address,
            "[WARNING] -Failed to send %d bytes read request (%d only), error %d\n",
            "ReadRegister[0x%08X] command sent, wait for ACK (%d.%06ds, %d/%d)\n",
            "[INFO] -ReadRegister[0x%08X]: Pending acknowledge. Wait %d msec\n"};
        result = RunExchange(*slot, request, ack.data());
        record.pendingAck = false;
        if (result.status == kGevOk &&
            Gvcp::ParseReadRegValues(ack.data(), result.received, values, count) < count) {
            // An acknowledge with fewer values than asked would leave the caller's
            // array partly unwritten while reporting success.
            result.status = kGevUnexpectedAck;
        }
    }
    if (!result.anyReceived)
        DeviceLog(handle, kLogInfo, "[INFO] -Read Register: No acknowledge header available\n");
    if (result.status == kGevOk && (slot->record.logMask & kLogRegisterData) != 0) {
        for (uint8_t i = 0; i < count; ++i)
            DeviceLog(handle, kLogInfo, "[INFO] -Read Register: Address 0x%08X, Data: 0x%08X\n",
                      address + 4u * i, values[i]);
    }
    if (result.status != kGevOk)
        DeviceLog(handle, kLogError, "[ERROR] -ReadRegister[0x%08X] Status: %04X\n", address,
                  result.status);
    return result.status;
}

GevStatus GEVWriteRegister(uint8_t handle, uint32_t address, uint8_t count,
                           const uint32_t* values) {
    DeviceSlot* slot = nullptr;
    if (GevStatus gate = RegisterGate(handle, slot)) return gate;
    if (slot->record.accessMode == kAccessModeOpen) {
        DeviceLog(handle, kLogVerbose, "Skipping WriteRegister[0x%x] : open access enabled\n",
                  address);
        return kGevOk;
    }
    if (count == 0 || values == nullptr) return kGevOk;

    const size_t pairs = std::min<size_t>(count, Gvcp::kMaxWriteRegPairs);
    ExchangeResult result;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        if (!slot->inUse) return kGevHandleNotOpen;
        std::vector<uint8_t> command(Gvcp::kHeaderSize + 8 * pairs);
        uint8_t ack[Gvcp::kWriteRegAckSize];
        uint16_t requestId = NextRequestId(slot->record);
        ExchangeRequest request{
            command.data(),
            Gvcp::BuildWriteReg(command.data(), requestId, address, pairs, values),
            requestId,
            Gvcp::kWriteRegAck,
            sizeof ack,
            kGevSendFailed,
            false,
            false,
            address,
            "[WARNING] -Failed to send %d bytes write request (%d only), error %d\n",
            "WriteRegister[0x%08X] command sent, wait for ACK(%d.%06ds, %d/%d)\n",
            "[INFO] -WriteRegister[0x%08X]: Pending acknowledge. Wait %d msec\n"};
        result = RunExchange(*slot, request, ack);
    }
    if (!result.anyReceived)
        DeviceLog(handle, kLogInfo, "[INFO] -Write Register: No acknowledge header available\n");
    if ((slot->record.logMask & kLogRegisterData) != 0) {
        for (size_t i = 0; i < pairs; ++i)
            DeviceLog(handle, kLogInfo, "[INFO] -Write Register: Address 0x%08X, Data: 0x%08X\n",
                      address + 4u * static_cast<uint32_t>(i), values[i]);
    }
    if (result.status != kGevOk)
        DeviceLog(handle, kLogError, "[ERROR] -WriteRegister[0x%08X] Status: %04X\n", address,
                  result.status);
    return result.status;
}

GevStatus GEVReadMemory(uint8_t handle, uint32_t address, uint32_t size, void* buffer) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    const uint32_t callerAddress = address;
    AlignMemoryRequest(address, size);
    if (size == 0) return kGevOk;
    if (buffer == nullptr) return kGevNotSupported;

    GevStatus status = kGevOk;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        if (!slot->inUse) return kGevHandleNotOpen;
        uint8_t command[Gvcp::kReadMemCmdSize];
        status = ReadMemoryInChunks(
            address, size, static_cast<uint8_t*>(buffer),
            [&](uint32_t chunkAddress, uint32_t chunk, uint8_t* ack) {
                uint16_t requestId = NextRequestId(slot->record);
                ExchangeRequest request{
                    command,
                    Gvcp::BuildReadMem(command, requestId, chunkAddress,
                                       static_cast<uint16_t>(chunk)),
                    requestId,
                    Gvcp::kReadMemAck,
                    Gvcp::kReadMemAckData + chunk,
                    kGevReceiveFailed,
                    true,
                    false,
                    chunkAddress,
                    "[WARNING] -Failed to send %d bytes read memory request (%d only), error "
                    "%d\n",
                    nullptr,
                    "[INFO] -Read Memory [0x%08X]: Pending acknowledge. Wait %d msec\n"};
                return RunExchange(*slot, request, ack);
            });
    }
    if (status != kGevOk)
        DeviceLog(handle, kLogError, "[ERROR] -ReadMemory[0x%08X]\n", callerAddress);
    return status;
}

GevStatus GEVWriteMemory(uint8_t handle, uint32_t address, uint32_t size, const void* data) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (slot->record.accessMode == kAccessModeOpen) return kGevOk;

    uint32_t capability = 0;
    if (GevStatus status = GEVReadRegister(handle, kGvcpCapabilityRegister, 1, &capability))
        return status;
    if ((capability & kCapabilityWriteMem) == 0) return kGevNotSupported;

    const uint32_t callerAddress = address;
    uint32_t dataLeft = size;  // the caller's bytes; the rounded tail is sent as zeros
    AlignMemoryRequest(address, size);
    if (size == 0) return kGevOk;
    if (data == nullptr) return kGevNotSupported;

    GevStatus status = kGevOk;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        if (!slot->inUse) return kGevHandleNotOpen;
        const auto* in = static_cast<const uint8_t*>(data);
        uint8_t chunkData[Gvcp::kMemoryChunk];
        uint8_t command[Gvcp::kWriteMemData + Gvcp::kMemoryChunk];
        uint8_t ack[Gvcp::kWriteMemAckSize];
        while (size > 0 && status == kGevOk) {
            uint32_t chunk = std::min(size, Gvcp::kMemoryChunk);
            uint32_t fromCaller = std::min(chunk, dataLeft);
            std::memset(chunkData, 0, chunk);
            std::memcpy(chunkData, in, fromCaller);
            uint16_t requestId = NextRequestId(slot->record);
            ExchangeRequest request{
                command,
                Gvcp::BuildWriteMem(command, requestId, address, chunkData, chunk),
                requestId,
                Gvcp::kWriteMemAck,
                sizeof ack,
                kGevReceiveFailed,
                true,
                false,
                address,
                "[WARNING] -Failed to send %d bytes write memory request (%d only), error %d\n",
                nullptr,
                "[INFO] -Write Memory [0x%08X]: Pending acknowledge. Wait %d msec\n"};
            status = RunExchange(*slot, request, ack).status;
            in += fromCaller;
            dataLeft -= fromCaller;
            address += chunk;
            size -= chunk;
        }
    }
    if (status != kGevOk)
        DeviceLog(handle, kLogError, "[ERROR] -WriteMemory[0x%08X]\n", callerAddress);
    return status;
}

GevStatus GEVGetChannelParameter(uint8_t handle, GevChannelParameters* parameters) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (parameters == nullptr) return kGevNotSupported;
    std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
    const DeviceRecord& record = slot->record;
    *parameters =
        GevChannelParameters{record.heartbeatPeriod, record.commandTimeout, record.retryCount,
                             record.packetTimeout,   record.resendCount,    record.streamTimeout};
    return kGevOk;
}

GevStatus GEVSetChannelParameter(uint8_t handle, const GevChannelParameters* parameters) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (parameters == nullptr) return kGevNotSupported;
    DeviceRecord& record = slot->record;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        record.retryCount = parameters->retryCount;
        record.commandTimeout = parameters->commandTimeout;
    }
    uint32_t heartbeatTimeout = 0;
    if (GevStatus status = GEVReadRegister(handle, kHeartbeatTimeoutRegister, 1, &heartbeatTimeout))
        return status;
    // The thread is not woken: the new period applies from its next wait. A
    // camera timeout of 200 ms or less must not wrap the period round to weeks.
    if (parameters->heartbeatPeriod <= heartbeatTimeout)
        record.heartbeatPeriod = parameters->heartbeatPeriod;
    else
        record.heartbeatPeriod =
            heartbeatTimeout > 200 ? heartbeatTimeout - 200 : heartbeatTimeout / 3;
    std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
    record.timeoutSeconds = record.commandTimeout / 1000;
    record.timeoutMicroseconds = (record.commandTimeout % 1000) * 1000;
    record.packetTimeout = parameters->packetTimeout;
    record.streamTimeout = parameters->streamTimeout;
    record.resendCount = parameters->resendCount;
    return kGevOk;
}

}  // namespace Vantor
