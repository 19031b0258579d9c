// Interface exports (IF...): entry check, argument checks and the registry
// lookup of hIface, then the call into the interface module.
#include <memory>
#include <string>

#include "Boundary.h"
#include "Device.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "Interface.h"
#include "LibraryController.h"
#include "StringFormat.h"

using namespace GenTL;

namespace {

std::string NotFoundText(IF_HANDLE hIface) {
    return Platform::Format("The specified interface not found: hIface = 0x%p.", hIface);
}

std::shared_ptr<CInterface> AsInterface(const ModuleRef& registered, IF_HANDLE hIface) {
    if (registered == nullptr) throw invalid_handle_exception(NotFoundText(hIface));
    auto iface = std::dynamic_pointer_cast<CInterface>(registered);
    if (iface == nullptr) throw invalid_parameter_exception(" Invalid Interface Handle");
    return iface;
}

// The registered interface behind hIface. The registry is asked before the
// handle is used in any way, so an unknown pointer is never dereferenced; the
// reference keeps the interface for the rest of the call.
std::shared_ptr<CInterface> LookUpInterface(IF_HANDLE hIface) {
    return AsInterface(Controller().FindInterface(hIface), hIface);
}

}  // namespace

GC_API IFClose(IF_HANDLE hIface) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        // Unregistered first, so a second close (or any later call) finds no
        // interface; its devices close now, the object goes with the last call on it.
        std::shared_ptr<CInterface> iface = AsInterface(Controller().TakeInterface(hIface), hIface);
        iface->Close();
        return GC_ERR_SUCCESS;
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
        LookUpInterface(hIface)->Info().GetInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckPointer(piNumDevices, "piNumDevices");
        *piNumDevices = LookUpInterface(hIface)->GetNumDevices();
        return GC_ERR_SUCCESS;
    });
}

GC_API IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sDeviceID, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        CheckStringArguments("sDeviceID", sDeviceID, piSize);
        const std::string id = LookUpInterface(hIface)->GetDeviceID(iIndex);
        CopyInfoString(nullptr, sDeviceID, piSize, id);
        return GC_ERR_SUCCESS;
    });
}

GC_API IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t iTimeout) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hIface, "hIface");
        // pbChanged may be null: the caller need not learn whether the list changed.
        LookUpInterface(hIface)->UpdateDeviceList(pbChanged, iTimeout);
        return GC_ERR_SUCCESS;
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
        LookUpInterface(hIface)->GetDeviceInfo(sDeviceID, iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
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
        std::shared_ptr<CInterface> iface = LookUpInterface(hIface);
        if (std::shared_ptr<CDeviceInfo> record = iface->FindDeviceInfo(sDeviceID)) {
            if (Controller().FindDevice(iface.get(), record->GetID()))
                throw resource_in_use_exception("The specified device is already in use.");
        }
        if (iOpenFlags < 1001 &&
            (iOpenFlags < DEVICE_ACCESS_NONE || iOpenFlags > DEVICE_ACCESS_EXCLUSIVE)) {
            throw invalid_parameter_exception(Platform::Format(
                "Specified iOpenFlags is invalid: iOpenFlags = 0x%p.", iOpenFlags));
        }
        std::shared_ptr<CDevice> device = iface->OpenDevice(sDeviceID, iOpenFlags);
        if (!device) throw invalid_handle_exception("Can't lock the target device.");
        Controller().AddDevice(iface.get(), device);
        // An interface closed while the camera was opening takes no new device.
        if (!iface->IsOpen() || !Controller().FindInterface(hIface)) {
            Controller().TakeDevice(ToHandle(device.get()));
            iface->RemoveDevice(device.get());
            throw invalid_handle_exception(NotFoundText(hIface));
        }
        *phDevice = ToHandle(device.get());
        return GC_ERR_SUCCESS;
    });
}

GC_API IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    // No boundary and no record on failure: the results are plain codes.
    if (phSystem == nullptr) return GC_ERR_INVALID_PARAMETER;
    ModuleRef iface = Controller().FindInterface(hIface);
    if (iface == nullptr) return GC_ERR_INVALID_HANDLE;
    *phSystem = ToHandle(iface->GetParent());
    RecordLastError(GC_ERR_SUCCESS, "GC_ERR_SUCCESS");
    return GC_ERR_SUCCESS;
}
