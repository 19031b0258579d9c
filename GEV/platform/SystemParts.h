// What each system supplies to the portable parts of the platform layer: its
// debugger channel, its error message box, its driver device files and the
// module instance the library entry point hands over.
#pragma once

#include <memory>
#include <string>

#include "DriverDevice.h"

namespace Platform {
namespace System {

// Writes text to the system's debugger output (nothing where there is none).
void WriteDebugger(const std::string& text);

// Shows a modal error message box (nothing where a library opens no window).
void ShowMessageBox(const char* text, const char* title);

// Opens a driver's device file; null when it cannot be opened or the system
// has no such driver.
std::unique_ptr<DriverDevice> OpenDriverDevice(const std::string& path);

// Stores the module instance given by the library entry point.
void RecordModuleInstance(void* instance);

}  // namespace System
}  // namespace Platform
