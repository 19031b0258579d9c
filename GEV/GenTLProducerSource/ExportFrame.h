// Helpers shared by the exported functions: the argument checks every export
// family repeats, written once so their messages stay identical.
#pragma once

#include <string>

#include "Exceptions.h"
#include "LibraryController.h"
#include "StringFormat.h"

namespace GenTL {

// The controller every export works through.
inline CLibraryController& Controller() {
    return CLibraryController::Instance();
}

// A null handle: "Specified <name> is invalid: <name> = 0x%p." (invalid handle).
inline void CheckHandle(const void* handle, const char* name) {
    if (handle == nullptr) {
        const std::string format =
            std::string("Specified ") + name + " is invalid: " + name + " = 0x%p.";
        throw invalid_handle_exception(Platform::Format(format.c_str(), handle));
    }
}

// A null pointer argument: the same text as an invalid parameter.
inline void CheckPointer(const void* pointer, const char* name) {
    if (pointer == nullptr) {
        const std::string format =
            std::string("Specified ") + name + " is invalid: " + name + " = 0x%p.";
        throw invalid_parameter_exception(Platform::Format(format.c_str(), pointer));
    }
}

// The registered data stream behind hDataStream, whose device and interface
// are still registered; `device` receives its device. Throws the data stream
// exports' invalid-handle failures otherwise, without touching the handle.
// The reference keeps the stream, and through it its device, for the call.
ModuleRef LookUpDataStream(DS_HANDLE hDataStream, ICommonBase** device = nullptr);

class CDataStream;
// The data stream module behind a registered stream; the same failure as an unknown handle.
CDataStream* AsDataStream(const ModuleRef& stream);

}  // namespace GenTL
