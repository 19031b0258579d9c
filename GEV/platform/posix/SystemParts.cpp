// The system's own channels on POSIX: no debugger output stream, no message
// box from a library, no packet filter driver (the socket path serves).
#include "SystemParts.h"

namespace Platform {
namespace System {

void WriteDebugger(const std::string&) {}

void ShowMessageBox(const char*, const char*) {}

std::unique_ptr<DriverDevice> OpenDriverDevice(const std::string&) {
    return nullptr;
}

void RecordModuleInstance(void*) {}

}  // namespace System
}  // namespace Platform
