#include "GevLog.h"

#include "DebugOutput.h"
#include "ModuleInfo.h"

namespace Vantor {
namespace {

constexpr size_t kDeviceLogLimit = 1023;
constexpr size_t kDevicelessLogLimit = 4095;

}  // namespace

void TrimTrailingSpace(std::string& text) {
    size_t end = text.find_last_not_of(" \t\r\n");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

bool DeviceLogEnabled(uint8_t handle, uint8_t level) {
    DeviceSlot* slot = SlotOf(handle);
    if (slot == nullptr) return false;
    return (slot->record.logMask & level) == level && slot->record.logCallback != nullptr;
}

void DeliverDeviceLog(uint8_t handle, uint8_t level, std::string text) {
    DeviceSlot* slot = SlotOf(handle);
    if (slot == nullptr) return;
    GevLogCallback callback = slot->record.logCallback;
    if (callback == nullptr) return;
    if (text.size() > kDeviceLogLimit) text.resize(kDeviceLogLimit);
    TrimTrailingSpace(text);
    callback(handle, text.c_str(), level);
}

void DeliverDevicelessLog(std::string text) {
    if (text.size() > kDevicelessLogLimit) text.resize(kDevicelessLogLimit);
    TrimTrailingSpace(text);
    text += "\r\n";
    Platform::DebugOutput(text);
}

void VersionReport(uint8_t handle) {
    // The version of the library file beside the process, as the shipped
    // layout puts it; without that file nothing is reported.
    std::string path = Platform::CurrentDirectory();
    if (path.empty() || path.back() != Platform::kPathSeparator) path += Platform::kPathSeparator;
    path += "VantorLib.dll";
    uint64_t version = Platform::ReadFileVersion(path);
    if (version == 0) return;
    uint32_t mostSignificant = static_cast<uint32_t>(version >> 32);
    uint32_t leastSignificant = static_cast<uint32_t>(version);
    DeviceLog(handle, kLogInfo, "[INFO] -Version: %d.%d.%d\n", mostSignificant >> 16,
              mostSignificant & 0xFF, leastSignificant >> 16);
    DeviceLog(handle, kLogInfo, "[INFO] -VantorLib Build Date: %s\n", __DATE__);
}

}  // namespace Vantor
