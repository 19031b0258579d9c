#include "FilterDriver.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "Clock.h"
#include "GevLog.h"

namespace Vantor {
namespace {

using namespace FilterDriver;

std::atomic<uint32_t> g_pollInterval{kAdapterPollIntervalMs};

uint8_t HandleOf(const DeviceSlot& slot) {
    return slot.record.ownHandle;
}

// One control request; false when there is no device or the driver refused.
bool Request(DeviceSlot& slot, uint32_t code, const void* in, size_t inSize, void* out = nullptr,
             size_t outSize = 0, size_t* returned = nullptr, uint32_t* error = nullptr) {
    size_t ignoredReturned = 0;
    uint32_t ignoredError = 0;
    if (returned == nullptr) returned = &ignoredReturned;
    if (error == nullptr) error = &ignoredError;
    *returned = 0;
    *error = 0;
    Platform::DriverDevice* device = slot.record.driverDevice.get();
    if (device == nullptr) {
        *error = kErrorInvalidHandle;
        return false;
    }
    return device->Control(code, in, inSize, out, outSize, returned, error);
}

// Sends the adapter record in `mode`; the driver answers a system error code.
// After a 0 the driver needs time to bind to the adapter: its state is polled
// until it reports ready. A driver that never reports ready within the polls
// still counts as done; only a failing poll is a failure.
bool AdapterControl(DeviceSlot& slot, uint32_t mode) {
    const std::string name = AdapterDeviceName(slot.record.adapterName);
    AdapterBytes record = BuildAdapterRecord(name, mode);
    uint8_t answer[AdapterRecord::kAnswerSize] = {};
    if (!Request(slot, kCodeAdapterControl, record.data(), record.size(), answer, sizeof answer))
        return false;
    uint32_t code = 0;
    for (size_t i = 0; i < sizeof answer; ++i) code |= static_cast<uint32_t>(answer[i]) << (8 * i);
    if (code != 0) return false;

    record = BuildAdapterRecord(name, kAdapterQuery);
    for (uint32_t poll = 0; poll < kAdapterPollCount; ++poll) {
        if (poll != 0) Platform::SleepMs(g_pollInterval);
        uint8_t state = 0;
        if (!Request(slot, kCodeAdapterControl, record.data(), record.size(), &state,
                     AdapterRecord::kStateSize)) {
            DevicelessLog("[WARNING] -checking driver state failed\n");
            return false;
        }
        DeviceLog(HandleOf(slot), kLogTrace, "checked driver state: %x\n", state);
        if (state == kAdapterReady) break;
    }
    return true;
}

// A request that only passes a record on.
template <size_t N>
GevStatus Forward(DeviceSlot& slot, uint32_t code, const std::array<uint8_t, N>& record) {
    if (!slot.record.driverDevice) return kGevDriverNotOpen;
    return Request(slot, code, record.data(), record.size()) ? kGevOk : kGevDriverFailed;
}

GevStatus UserBuffersRefused(uint8_t handle) {
    DeviceLog(handle, kLogWarning, "[WARNING] -Filter driver doesn't support user ring buffer.\n");
    return kGevNotSupported;
}

GevStatus StartErrorStatus(uint8_t handle, uint32_t error) {
    switch (error) {
        case kErrorInvalidHandle:
            return kGevDriverInvalidHandle;
        case kErrorNotEnoughMemory:
            return kGevOutOfMemory;
        case kErrorBusy:
            return kGevStatusBusy;
        default:
            DeviceLog(handle, kLogError, "[ERROR] - start grab returned error code %x\n", error);
            return kGevDriverFailed;
    }
}

// The read shared by image and slot reads: `buffer` carries the device index
// in its first byte and gets the driver's answer. After the read the driver's
// record of that image fills the infos, and decides the result: the driver
// flags images it completed with resends as errors although nothing is missing.
GevStatus Pull(DeviceSlot& slot, uint8_t* buffer, uint32_t size, GevImageInfo* info,
               GevImageInfo* lastImageInfo) {
    const uint8_t handle = HandleOf(slot);
    DeviceLog(handle, kLogTrace, "Pulling image from filter driver. Buffer size = %d\n", size);
    Platform::DriverDevice* device = slot.record.driverDevice.get();
    if (device == nullptr) return kGevDriverNotOpen;
    if (buffer == nullptr || size == 0) return kGevDriverInvalidParameter;

    buffer[ReadRequest::kDeviceIndex] = static_cast<uint8_t>(handle - 1);
    GevStatus status = kGevOk;
    size_t returned = 0;
    uint32_t error = 0;
    if (!device->Read(buffer, size, &returned, &error)) {
        if (error == kErrorSemaphoreTimeout) {
            // No image at all: nothing of an earlier image's record may stay behind.
            if (info != nullptr) *info = GevImageInfo{};
            return kGevTimeout;
        }
        status = error == kErrorInvalidParameter ? kGevDriverInvalidParameter : kGevImageIncomplete;
    }

    ImageBytes request = BuildImageRequest(handle);
    ImageBytes answer{};
    returned = 0;
    if (!Request(slot, kCodeImageRecord, request.data(), request.size(), answer.data(),
                 answer.size(), &returned)) {
        return status != kGevOk ? status : kGevDriverFailed;
    }
    ImageRecordData record = ParseImageRecord(answer);
    if (returned == ImageRecord::kSize && (record.requested != 0 || record.received != 0)) {
        DeviceLog(handle, kLogInfo,
                  "[INFO] -Packet resend [BlockID %lld] -> requested: %d, received: %d packets\n",
                  static_cast<int64_t>(record.info.blockId), record.requested, record.received);
    }
    if (status != kGevOk && record.info.missingPackets == 0) status = kGevOk;
    if (status == kGevOk) record.info.missingPackets = 0;
    if (info != nullptr) *info = record.info;
    if (lastImageInfo != nullptr) *lastImageInfo = record.info;
    DeviceLog(handle, kLogVerbose, "Image pulled from filter driver\n");
    return status;
}

}  // namespace

GevStatus GEVInitFilterDriver(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    if (record.userBufferCount != 0) return UserBuffersRefused(handle);
    if (record.filterDriverOpen) {
        DeviceLog(handle, kLogWarning, "[WARNING] -GEVInitFilterDriver already enabled\n");
        return kGevOk;
    }
    if (!record.driverDevice) {
        record.driverDevice = Platform::OpenDriverDevice(kDevicePath);
        DevicelessLog("[INFO] -GEVInitFilterDriver handle: %p\n",
                      static_cast<const void*>(record.driverDevice.get()));
    } else {
        DevicelessLog("[WARNING] -GEVInitFilterDriver already opened. Handle: %p\n",
                      static_cast<const void*>(record.driverDevice.get()));
    }
    if (record.driverDevice) {
        if (AdapterControl(*slot, kAdapterEnable)) {
            record.filterDriverOpen = true;
            record.streamBackend = &DriverStreamBackend();
            return kGevOk;
        }
        record.driverDevice.reset();
        DeviceLog(handle, kLogError, "[ERROR] -Can't enable adapter in filter driver.\n");
    }
    record.filterDriverOpen = false;
    record.streamBackend = &SocketStreamBackend();
    DeviceLog(handle, kLogInfo, "[INFO] -GEVInitFilterDriver: Can't open krvGEVFilter driver..\n");
    DeviceLog(handle, kLogInfo,
              "[INFO] -GEVInitFilterDriver: Check if driver is installed or you don't have "
              "administrator privileges.\n");
    return kGevDriverNotOpen;
}

GevStatus GEVDisableFilterDriver(uint8_t handle) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    if (record.userBufferCount != 0) return UserBuffersRefused(handle);
    if (record.filterDriverOpen) {
        record.filterDriverOpen = false;
        record.streamBackend = &SocketStreamBackend();
        if (!AdapterControl(*slot, kAdapterDisable))
            DeviceLog(handle, kLogError, "[ERROR] -Can't disable adapter in filter driver.\n");
        record.driverDevice.reset();
    }
    return kGevOk;
}

GevStatus GEVGetFilterDriverVersion(uint8_t handle, uint8_t* major, uint8_t* minorPacked) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    std::lock_guard<std::recursive_mutex> guard(slot->streamLock);
    DeviceRecord& record = slot->record;
    if (record.userBufferCount != 0) return UserBuffersRefused(handle);
    if (major != nullptr) *major = 0;
    if (minorPacked != nullptr) *minorPacked = 0;
    if (!record.filterDriverOpen || !record.driverDevice) {
        DeviceLog(handle, kLogInfo,
                  "[INFO] -GEVGetFilterDriverVersion: krvGEVFilter driver is not open. Open "
                  "driver with GEVInitFilterDriver function.\n");
        return kGevDriverNotOpen;
    }
    uint8_t request[VersionRecord::kRequestSize] = {};
    uint8_t answer[VersionRecord::kAnswerSize] = {};
    if (!Request(*slot, kCodeVersion, request, sizeof request, answer, sizeof answer)) {
        DeviceLog(handle, kLogInfo,
                  "[INFO] -GEVGetFilterDriverVersion: Can't read from krvGEVFilter driver. Check "
                  "if krvGEVFilter driver is installed.\n");
        return kGevDriverFailed;
    }
    if (major != nullptr) *major = answer[VersionRecord::kMajor];
    if (minorPacked != nullptr) *minorPacked = answer[VersionRecord::kMinorPacked];
    return kGevOk;
}

namespace FilterDriver {

void SetAdapterPollInterval(uint32_t milliseconds) {
    g_pollInterval = milliseconds;
}
uint32_t AdapterPollInterval() {
    return g_pollInterval;
}

GevStatus Start(DeviceSlot& slot, const StartParams& params, uint16_t bufferCount) {
    const uint8_t handle = HandleOf(slot);
    if (!slot.record.driverDevice) return kGevDriverNotOpen;
    // Packets out of order are not tolerated: the driver requests them again.
    SwitchBytes order = BuildSwitchRecord(handle, 0);
    if (!Request(slot, kCodeOutOfOrder, order.data(), order.size()))
        DeviceLog(handle, kLogError, "[ERROR] -Can't set packets out of order in driver.\n");
    BufferCountBytes count = BuildBufferCountRecord(handle, bufferCount);
    if (!Request(slot, kCodeBufferCount, count.data(), count.size()))
        DeviceLog(handle, kLogError, "[ERROR] -Can't set buffer count in driver.\n");
    StartBytes start = BuildStartRecord(params, handle);
    uint32_t error = 0;
    if (!Request(slot, kCodeStart, start.data(), start.size(), nullptr, 0, nullptr, &error))
        return StartErrorStatus(handle, error);
    return kGevOk;
}

GevStatus Stop(DeviceSlot& slot) {
    if (!slot.record.driverDevice) return kGevDriverNotOpen;
    StartBytes stop = BuildStopRecord(HandleOf(slot));
    StartBytes answer{};
    if (!Request(slot, kCodeStop, stop.data(), stop.size(), answer.data(), answer.size()))
        return kGevDriverFailed;
    return kGevOk;
}

GevStatus ReadStatistics(DeviceSlot& slot, Statistics* statistics) {
    if (statistics == nullptr) return kGevDriverInvalidParameter;
    if (!slot.record.driverDevice) return kGevDriverNotOpen;
    StatisticsBytes request = BuildStatisticsRequest(HandleOf(slot));
    StatisticsBytes answer{};
    size_t returned = 0;
    if (!Request(slot, kCodeStatistics, request.data(), request.size(), answer.data(),
                 answer.size(), &returned))
        return kGevDriverFailed;
    *statistics = ParseStatistics(answer, returned);
    return kGevOk;
}

GevStatus FrameRate(DeviceSlot& slot, double* fps) {
    if (fps == nullptr) return kGevDriverInvalidParameter;
    *fps = 0;
    Statistics statistics{};
    GevStatus status = ReadStatistics(slot, &statistics);
    if (status != kGevOk) return status;
    // A window of 0 ms cannot give a rate; it reads as no frames.
    if (statistics.windowFrames != 0 && statistics.windowMs != 0)
        *fps = 1000.0 / (static_cast<double>(statistics.windowMs) / statistics.windowFrames);
    return kGevOk;
}

GevStatus ReadImage(DeviceSlot& slot, void* destination, uint32_t payloadSize, GevImageInfo* info,
                    GevImageInfo* lastImageInfo) {
    return Pull(slot, static_cast<uint8_t*>(destination), payloadSize, info, lastImageInfo);
}

GevStatus ReadSlot(DeviceSlot& slot, uint16_t* slotNumber, GevImageInfo* info,
                   GevImageInfo* lastImageInfo) {
    if (slotNumber == nullptr) return kGevDriverInvalidParameter;
    uint8_t answer[ReadRequest::kSlotReadSize] = {};
    GevStatus status = Pull(slot, answer, sizeof answer, info, lastImageInfo);
    if (status != kGevTimeout && status != kGevDriverNotOpen) *slotNumber = ParseSlotNumber(answer);
    return status;
}

GevStatus SetBufferCount(DeviceSlot& slot, uint16_t count) {
    return Forward(slot, kCodeBufferCount, BuildBufferCountRecord(HandleOf(slot), count));
}

GevStatus SetPacketResend(DeviceSlot& slot, bool enabled) {
    return Forward(slot, kCodePacketResend, BuildSwitchRecord(HandleOf(slot), enabled ? 1 : 0));
}

GevStatus AnnounceBuffer(DeviceSlot& slot, const void* address) {
    return Forward(slot, kCodeAnnounceBuffer,
                   BuildAnnounceRecord(HandleOf(slot), reinterpret_cast<uintptr_t>(address)));
}

GevStatus ReleaseBuffers(DeviceSlot& slot) {
    return Forward(slot, kCodeReleaseBuffers, BuildReleaseRecord(HandleOf(slot)));
}

GevStatus QueueSlot(DeviceSlot& slot, uint64_t slotNumber) {
    return Forward(slot, kCodeQueueSlot, BuildQueueRecord(HandleOf(slot), slotNumber));
}

}  // namespace FilterDriver
}  // namespace Vantor
