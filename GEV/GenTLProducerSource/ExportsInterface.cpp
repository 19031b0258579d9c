// Interface exports (IF...): entry check, argument checks and the registry
// lookup of hIface, then the call into the interface module.
#include <string>

#include "Boundary.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "StringFormat.h"

using namespace GenTL;

namespace {

// The interface module is not part of this build: every export whose checks
// have passed ends here. The arguments are those the module operation takes.
template <class... ModuleArgs>
[[noreturn]] void InterfaceModuleMissing(const char* exportName, const ModuleArgs&...) {
    throw not_available_exception(std::string(exportName) +
                                  ": the interface module is not available.");
}

// The registered interface behind hIface. The registry is asked before the
// handle is used in any way, so an unknown pointer is never dereferenced.
ICommonBase* LookUpInterface(IF_HANDLE hIface) {
    ICommonBase* iface = Controller().FindInterface(hIface);
    if (iface == nullptr) {
        throw invalid_handle_exception(
            Platform::Format("The specified interface not found: hIface = 0x%p.", hIface));
    }
    return iface;
}

}  // namespace

GC_API IFClose(IF_HANDLE hIface) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFClose", iface);
    });
}

GC_API IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                 void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        // piSize is tested before the handle here.
        CheckPointer(piSize, "piSize");
        CheckHandle(hIface, "hIface");
        CheckInfoArguments(piType, pBuffer, piSize);
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFGetInfo", iface, iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckPointer(piNumDevices, "piNumDevices");
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFGetNumDevices", iface, piNumDevices);
    });
}

GC_API IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sDeviceID, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckStringArguments("sDeviceID", sDeviceID, piSize);
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFGetDeviceID", iface, iIndex, sDeviceID, piSize);
    });
}

GC_API IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t iTimeout) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        // pbChanged may be null: the caller need not learn whether the list changed.
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFUpdateDeviceList", iface, pbChanged, iTimeout);
    });
}

GC_API IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID, DEVICE_INFO_CMD iInfoCmd,
                       INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckPointer(sDeviceID, "sDeviceID");
        // piType before piSize in this export.
        CheckPointer(piType, "piType");
        CheckInfoArguments(piType, pBuffer, piSize);
        ICommonBase* iface = LookUpInterface(hIface);
        InterfaceModuleMissing("IFGetDeviceInfo", iface, sDeviceID, iInfoCmd, piType, pBuffer,
                               piSize);
    });
}

GC_API IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID, DEVICE_ACCESS_FLAGS iOpenFlags,
                    DEV_HANDLE* phDevice) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    BoundaryOptions options;
    options.kind = BoundaryOptions::Kind::OpenDevice;
    options.unknownText = "Unknown Error";
    return RunExport(options, [&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckPointer(sDeviceID, "sDevName");
        CheckPointer(phDevice, "phDevice");
        ICommonBase* iface = LookUpInterface(hIface);
        // The module answers, in this order: device already in use, the
        // iOpenFlags range, then the open itself.
        InterfaceModuleMissing("IFOpenDevice", iface, sDeviceID, iOpenFlags, phDevice);
    });
}

GC_API IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    // No boundary and no record on failure: the results are plain codes.
    if (phSystem == nullptr) return GC_ERR_INVALID_PARAMETER;
    ICommonBase* iface = Controller().FindInterface(hIface);
    if (iface == nullptr) return GC_ERR_INVALID_HANDLE;
    *phSystem = ToHandle(iface->GetParent());
    RecordLastError(GC_ERR_SUCCESS, "GC_ERR_SUCCESS");
    return GC_ERR_SUCCESS;
}
