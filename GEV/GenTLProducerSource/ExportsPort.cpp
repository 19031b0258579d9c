// Port exports: register access and descriptions of every module port.
#include <memory>

#include "Boundary.h"
#include "Device.h"
#include "DevicePort.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"

using namespace GenTL;
using Platform::Format;

namespace {

BoundaryOptions PortBoundary(bool recordSuccess = true) {
    BoundaryOptions options;
    options.kind = BoundaryOptions::Kind::Port;
    options.recordSuccess = recordSuccess;
    return options;
}

// The handle becomes a port only through the registries; a device or its
// remote port needs an open interface.
// The reference keeps the module (for a remote port, its device) for the call.
ModuleRef ToPort(PORT_HANDLE hPort) {
    ModuleRef object = Controller().FindPortObject(hPort);
    if (object == nullptr) {
        throw invalid_handle_exception(Format("Specified pPort is invalid: pPort = 0x%p.", hPort));
    }
    const bool deviceSide = Controller().FindDevice(hPort) || Controller().FindDevicePort(hPort);
    if (deviceSide && Controller().NumInterfaces() == 0) {
        throw invalid_handle_exception("There's no opened interface.");
    }
    return object;
}

// A negated GigE Vision status from a device access becomes a GenTL code.
GC_ERROR MapPortStatus(int64_t status) {
    if (status >= 0) return GC_ERR_SUCCESS;
    switch (-status) {
        case 0x8003:
            return Fail(GC_ERR_INVALID_ADDRESS, "GC_ERR_INVALID_ADDRESS");
        case 0x8006:
            return Fail(GC_ERR_ACCESS_DENIED, "GC_ERR_ACCESS_DENIED");
        default:
            return Fail(GC_ERR_ERROR, "GC_ERR_ERROR");
    }
}

void CheckBlockArguments(const void* pBuffer, const size_t* piSize, PORT_HANDLE hPort) {
    CheckStringArguments("pBuffer", pBuffer, piSize);
    CheckHandle(hPort, "hPort");
}

void CheckStackArguments(PORT_HANDLE hPort, const void* pEntries, const size_t* piNumEntries) {
    CheckHandle(hPort, "hPort");
    CheckPointer(pEntries, "pEntries");
    CheckPointer(piNumEntries, "piNumEntries");
}

// Runs the entries in order until one throws; *piNumEntries tells how many
// completed, on failure as on success. Device statuses do not stop the walk.
template <class Access>
GC_ERROR ProcessStack(PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries, Access access) {
    const size_t count = *piNumEntries;
    size_t done = 0;
    try {
        for (; done < count; ++done) access(pEntries[done]);
    } catch (...) {
        *piNumEntries = done;
        throw;
    }
    *piNumEntries = done;
    return GC_ERR_SUCCESS;
}

// The write check of the stacked writes: a device opened read-only (itself or
// through its remote port) takes no stacked write.
GC_ERROR CheckStackedWrite(PORT_HANDLE hPort) {
    ModuleRef module = Controller().FindDevice(hPort);
    if (!module &&
        dynamic_cast<CDevicePort*>(Controller().FindPortObject(hPort).get()) != nullptr) {
        if (!Controller().FindDevicePort(hPort, &module))
            return Fail(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE");
    }
    auto* device = dynamic_cast<CDevice*>(module.get());
    if (device != nullptr && device->AccessFlags() == DEVICE_ACCESS_READONLY)
        return Fail(GC_ERR_ACCESS_DENIED, "GC_ERR_ACCESS_DENIED");
    return GC_ERR_SUCCESS;
}

}  // namespace

GC_API GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckBlockArguments(pBuffer, piSize, hPort);
        return MapPortStatus(ToPort(hPort)->ReadBlock(iAddress, pBuffer, piSize));
    });
}

GC_API GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckBlockArguments(pBuffer, piSize, hPort);
        return MapPortStatus(ToPort(hPort)->WriteBlock(iAddress, pBuffer, piSize));
    });
}

GC_API GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries,
                         size_t* piNumEntries) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckStackArguments(hPort, pEntries, piNumEntries);
        ModuleRef port = ToPort(hPort);
        return ProcessStack(pEntries, piNumEntries, [&port](PORT_REGISTER_STACK_ENTRY& entry) {
            size_t size = entry.Size;
            port->ReadBlock(entry.Address, entry.pBuffer, &size);
        });
    });
}

GC_API GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries,
                          size_t* piNumEntries) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckStackArguments(hPort, pEntries, piNumEntries);
        ModuleRef port = ToPort(hPort);
        if (GC_ERROR denied = CheckStackedWrite(hPort)) return denied;
        return ProcessStack(pEntries, piNumEntries, [&port](PORT_REGISTER_STACK_ENTRY& entry) {
            size_t size = entry.Size;
            port->WriteBlock(entry.Address, entry.pBuffer, &size);
        });
    });
}

GC_API GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckHandle(hPort, "hPort");
        CheckStringArguments("sURL", sURL, piSize);
        ToPort(hPort)->GetURL(sURL, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                     void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckHandle(hPort, "hPort");
        CheckInfoArguments(piType, pBuffer, piSize);
        ToPort(hPort)->GetPortInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(PortBoundary(false), [&]() -> GC_ERROR {
        CheckHandle(hPort, "hPort");
        CheckPointer(piNumURLs, "piNumURLs");
        ToPort(hPort)->GetNumURLs(piNumURLs);
        return GC_ERR_SUCCESS;
    });
}

GC_API GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex, URL_INFO_CMD iInfoCmd,
                        INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport(PortBoundary(), [&]() -> GC_ERROR {
        CheckHandle(hPort, "hPort");
        CheckInfoArguments(piType, pBuffer, piSize);
        ToPort(hPort)->GetURLInfo(iURLIndex, iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}
