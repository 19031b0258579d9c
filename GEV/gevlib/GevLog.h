// The library's diagnostic log: per device through the callback given at
// open (filtered by the slot's log mask), and device-less to the debug output.
#pragma once

#include <cstdint>
#include <string>

#include "DeviceTable.h"
#include "StringFormat.h"

namespace Vantor {

// Cuts trailing blanks, tabs, carriage returns and line feeds.
void TrimTrailingSpace(std::string& text);

// Delivers an already formatted text to the slot's callback (cut to 1023 characters).
void DeliverDeviceLog(uint8_t handle, uint8_t level, std::string text);
// True when a message of `level` would reach the slot's callback.
bool DeviceLogEnabled(uint8_t handle, uint8_t level);

// Device log: formats only when the slot's mask and callback let the message through.
template <class... Args>
void DeviceLog(uint8_t handle, uint8_t level, const char* format, const Args&... args) {
    if (!DeviceLogEnabled(handle, level)) return;
    DeliverDeviceLog(handle, level, Platform::Format(format, args...));
}

void DeliverDevicelessLog(std::string text);

// Device-less log: to the debug output, ending in exactly one CR LF.
template <class... Args>
void DevicelessLog(const char* format, const Args&... args) {
    DeliverDevicelessLog(Platform::Format(format, args...));
}

// Writes the library's version and build date to the device log.
void VersionReport(uint8_t handle);

}  // namespace Vantor
