// System module exports: TLOpen, TLClose, TLGetInfo and the interface list.
#include <memory>

#include "Boundary.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "Interface.h"
#include "LibraryController.h"
#include "LibraryGlobals.h"
#include "TL.h"

using namespace GenTL;
using Platform::Format;

namespace {

// The checked conversion of a handle that has passed the handle checks: it
// must be the live system module, found without dereferencing the handle.
// Holding the reference keeps the module for the rest of the call.
std::shared_ptr<CTL> ToTL(TL_HANDLE hSystem) {
    std::shared_ptr<CTL> tl = Controller().GetTL();
    if (tl == nullptr || ToHandle(tl.get()) != hSystem) {
        throw invalid_parameter_exception(" Invalid TL handle");
    }
    return tl;
}

// The handle check of every system export but TLOpen, TLClose and TLGetInfo.
std::shared_ptr<CTL> CheckOriginalSystem(TL_HANDLE hSystem) {
    void* recorded = Globals().recordedSystem;
    if (hSystem == nullptr || hSystem != recorded) {
        throw invalid_handle_exception(
            Format("Specified hSystem is invalid or not the original handle: hSystem = 0x%p, "
                   "Specified = 0x%p.",
                   hSystem, recorded));
    }
    return ToTL(hSystem);
}

BoundaryOptions WithUnknownText(const char* text, bool recordSuccess = true) {
    BoundaryOptions options;
    options.unknownText = text;
    options.recordSuccess = recordSuccess;
    return options;
}

}  // namespace

GC_API TLOpen(TL_HANDLE* phSystem) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport(WithUnknownText("GPF in TLOpen"), [&]() -> GC_ERROR {
        CheckPointer(phSystem, "phSystem");
        // *phSystem is an output only: whatever the consumer's variable still
        // holds (a handle from before a GCCloseLib) says nothing.
        bool created = false;
        std::shared_ptr<CTL> tl = Controller().OpenTL(&created);
        if (!created) {
            throw resource_in_use_exception(
                Format("Specified phSystem is in use: phSystem = 0x%p.", phSystem));
        }
        CTL* opened = nullptr;
        bool ok = false;
        try {
            ok = tl->Open(&opened);
        } catch (...) {
            // A module that failed to open must not block the next TLOpen.
            Controller().CloseAll();
            throw;
        }
        if (!ok || opened == nullptr) {
            Controller().CloseAll();
            throw invalid_handle_exception(
                Format("Failed to open the system module specified by phSystem: phSystem = 0x%p.",
                       phSystem));
        }
        Globals().recordedSystem = ToHandle(opened);
        *phSystem = ToHandle(opened);
        return GC_ERR_SUCCESS;
    });
}

GC_API TLClose(TL_HANDLE hSystem) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(WithUnknownText("Unknown Exception thrown"), [&]() -> GC_ERROR {
        CheckHandle(hSystem, "hSystem");
        void* recorded = Globals().recordedSystem;
        if (hSystem != recorded) {
            throw invalid_handle_exception(Format(
                "Specified hSystem is not the original handle: hSystem = 0x%p, Specified = 0x%p.",
                hSystem, recorded));
        }
        Controller().CloseAll();
        return GC_ERR_SUCCESS;
    });
}

GC_API TLGetInfo(TL_HANDLE hSystem, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                 size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    BoundaryOptions options;
    options.recordSuccess = false;
    return RunExport(options, [&]() -> GC_ERROR {
        CheckHandle(hSystem, "hSystem");
        CheckInfoArguments(piType, pBuffer, piSize);
        ToTL(hSystem)->GetInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API TLGetNumInterfaces(TL_HANDLE hSystem, uint32_t* piNumIfaces) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        std::shared_ptr<CTL> tl = CheckOriginalSystem(hSystem);
        CheckPointer(piNumIfaces, "piNumInterfaces");
        *piNumIfaces = tl->GetNumInterfaces();
        return GC_ERR_SUCCESS;
    });
}

GC_API TLGetInterfaceID(TL_HANDLE hSystem, uint32_t iIndex, char* sID, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        std::shared_ptr<CTL> tl = CheckOriginalSystem(hSystem);
        CopyInfoString(nullptr, sID, piSize, tl->GetInterfaceID(iIndex));
        return GC_ERR_SUCCESS;
    });
}

GC_API TLGetInterfaceInfo(TL_HANDLE hSystem, const char* sIfaceID, INTERFACE_INFO_CMD iInfoCmd,
                          INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(WithUnknownText("Unknown Error"), [&]() -> GC_ERROR {
        std::shared_ptr<CTL> tl = CheckOriginalSystem(hSystem);
        CheckPointer(sIfaceID, "sIfaceID");
        CheckInfoArguments(piType, pBuffer, piSize);
        tl->GetInterfaceInfo(sIfaceID, iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API TLOpenInterface(TL_HANDLE hSystem, const char* sIfaceID, IF_HANDLE* phIface) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport(WithUnknownText("Unknown Error"), [&]() -> GC_ERROR {
        std::shared_ptr<CTL> tl = CheckOriginalSystem(hSystem);
        CheckPointer(phIface, "phIface");
        CheckPointer(sIfaceID, "sIfaceID");
        std::shared_ptr<CInterface> iface = tl->OpenInterface(sIfaceID);
        if (iface == nullptr) {
            throw invalid_handle_exception(
                Format("Specified pInterface is invalid: pInterface = 0x%p.", iface.get()));
        }
        *phIface = ToHandle(iface.get());
        ModuleRef registered;
        if (Controller().AddInterface(sIfaceID, iface, &registered) == GC_ERR_RESOURCE_IN_USE) {
            *phIface = ToHandle(registered.get());
            return GC_ERR_RESOURCE_IN_USE;
        }
        return GC_ERR_SUCCESS;
    });
}

GC_API TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t* pbChanged, uint64_t iTimeout) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckOriginalSystem(hSystem)->UpdateInterfaceList(pbChanged, iTimeout);
        return GC_ERR_SUCCESS;
    });
}
