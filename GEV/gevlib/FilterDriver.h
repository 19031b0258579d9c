// The library side of the optional krvGEVFilter packet filter driver:
// enabling it for a device's adapter, and the requests the stream side sends
// it (start, stop, image and slot reads, statistics, user buffers). Where no
// driver exists (Linux) opening fails and the socket path stays in use.
//
// Threads: the three GEV... functions take the slot's stream lock. The
// functions of Vantor::FilterDriver take none: their caller (the stream side)
// keeps the slot's driver device alive while a request runs, since an image
// read may block for the whole image time-out.
#pragma once

#include <cstdint>

#include "DeviceTable.h"
#include "FilterDriverRecords.h"
#include "GevStatus.h"

namespace Vantor {

// Opens the driver's device file (when no device is held yet) and enables
// the device's adapter in it. 0xC00D when either fails; 0xC020 when user ring
// buffers are announced, which the driver path does not support.
GevStatus GEVInitFilterDriver(uint8_t handle);
// Disables the adapter and drops the device; 0 also when it was not enabled.
GevStatus GEVDisableFilterDriver(uint8_t handle);
// The driver's version: major, and minor (high 4 bits) with sub-minor (low 4 bits).
GevStatus GEVGetFilterDriverVersion(uint8_t handle, uint8_t* major, uint8_t* minorPacked);

namespace FilterDriver {

constexpr const char* kDevicePath = "\\\\.\\krvGEVFilter";
constexpr uint32_t kAdapterPollCount = 100;
constexpr uint32_t kAdapterPollIntervalMs = 25;

// Tests shorten the pause between adapter state polls; 25 ms otherwise.
void SetAdapterPollInterval(uint32_t milliseconds);
uint32_t AdapterPollInterval();

// Sets the out-of-order tolerance and the buffer count (failures only
// logged), then starts acquisition with the start record.
GevStatus Start(DeviceSlot& slot, const StartParams& params, uint16_t bufferCount);
GevStatus Stop(DeviceSlot& slot);
GevStatus ReadStatistics(DeviceSlot& slot, Statistics* statistics);
// Frames per second over the driver's rate window; 0 without frames.
GevStatus FrameRate(DeviceSlot& slot, double* fps);

// Waits for the next image and copies it into `destination` (payloadSize
// bytes); `info` and `lastImageInfo` (either may be null) get its record.
GevStatus ReadImage(DeviceSlot& slot, void* destination, uint32_t payloadSize, GevImageInfo* info,
                    GevImageInfo* lastImageInfo);
// The same for user ring buffers: the driver names the ring slot it filled.
GevStatus ReadSlot(DeviceSlot& slot, uint16_t* slotNumber, GevImageInfo* info,
                   GevImageInfo* lastImageInfo);

GevStatus SetBufferCount(DeviceSlot& slot, uint16_t count);
GevStatus SetPacketResend(DeviceSlot& slot, bool enabled);
GevStatus AnnounceBuffer(DeviceSlot& slot, const void* address);
GevStatus ReleaseBuffers(DeviceSlot& slot);
GevStatus QueueSlot(DeviceSlot& slot, uint64_t slotNumber);

}  // namespace FilterDriver
}  // namespace Vantor
