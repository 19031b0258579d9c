// Event exports: GCRegisterEvent, GCUnregisterEvent, EventGetData,
// EventGetDataInfo, EventGetInfo, EventFlush and EventKill. Every handle is
// found in the controller's registries before it is used, so a pointer that
// is no module or event of this library is refused without being touched.
#include <utility>

#include "Boundary.h"
#include "EventObj.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"

using namespace GenTL;
using Platform::Format;

namespace {

// Where a registered module sits in the tree, told by the registries alone.
enum class SourceKind { None, System, Interface, Device, DataStream };

SourceKind KindOf(const void* handle) {
    CLibraryController& controller = Controller();
    if (handle == nullptr) return SourceKind::None;
    if (controller.FindInterface(handle) != nullptr) return SourceKind::Interface;
    if (controller.FindDevice(handle) != nullptr) return SourceKind::Device;
    if (controller.FindDataStream(handle) != nullptr) return SourceKind::DataStream;
    // The only other event source is the system module.
    if (controller.FindEventSource(handle) != nullptr) return SourceKind::System;
    return SourceKind::None;
}

void ThrowInvalidHandle(const char* name, const void* handle) {
    const std::string format =
        std::string("Specified ") + name + " is invalid: " + name + " = 0x%p.";
    throw invalid_handle_exception(Format(format.c_str(), handle));
}

// The open-module checks below the system module: an interface, a device and
// a data stream must be open for a source of that depth.
void CheckModulesOpen(SourceKind kind) {
    CLibraryController& controller = Controller();
    if (kind == SourceKind::None || kind == SourceKind::System) return;
    if (controller.NumInterfaces() == 0) {
        throw invalid_handle_exception("There's no opened interface.");
    }
    if (kind == SourceKind::Interface) return;
    if (controller.NumDevices() == 0) throw invalid_handle_exception("There's no opened device.");
    if (kind == SourceKind::DataStream && controller.NumDataStreams() == 0) {
        throw invalid_handle_exception("There's no opened stream.");
    }
}

// The source checks of GCRegisterEvent and GCUnregisterEvent after the null
// handle: `name` is what the message calls a handle that is no event source.
ModuleRef LookUpEventSource(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID, const char* name) {
    const SourceKind kind = KindOf(hEventSrc);
    if (kind == SourceKind::None) ThrowInvalidHandle(name, hEventSrc);
    if (iEventID == EVENT_NEW_BUFFER && kind != SourceKind::DataStream) {
        throw implementation_exception("Requested event type not implemented for given module.");
    }
    CheckModulesOpen(kind);
    // Fetched last so that a module closed meanwhile is not used.
    ModuleRef source = Controller().FindEventSource(hEventSrc);
    if (source == nullptr) throw invalid_handle_exception("The specified handle is not found.");
    return source;
}

// The module and event checks of the Event... exports: the event must be
// registered and its source still open. The record holds the source module,
// and so its event object, for the rest of the call.
CLibraryController::EventRecord LookUpEvent(EVENT_HANDLE hEvent) {
    CLibraryController::EventRecord record{};
    const bool registered = Controller().FindEvent(hEvent, &record);
    const SourceKind kind = registered ? KindOf(ToHandle(record.source)) : SourceKind::None;
    CheckModulesOpen(kind);
    if (kind == SourceKind::None || record.event == nullptr) ThrowInvalidHandle("pEvent", hEvent);
    return record;
}

}  // namespace

GC_API GCRegisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID, EVENT_HANDLE* phEvent) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEventSrc, "hHandle");
        CheckPointer(phEvent, "phEvent");
        ModuleRef source = LookUpEventSource(hEventSrc, iEventID, "pEvent");
        CEventObj* event = nullptr;
        source->RegisterEvent(iEventID, &event);
        if (event == nullptr) {
            throw implementation_exception(
                "Requested event type not implemented for given module.");
        }
        CLibraryController::EventRecord record;
        record.event = event;
        record.source = source.get();
        record.type = iEventID;
        record.owner = source;
        Controller().AddEvent(record);
        *phEvent = event;
        return GC_ERR_SUCCESS;
    });
}

GC_API GCUnregisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEventSrc, "hModule");
        ModuleRef source = LookUpEventSource(hEventSrc, iEventID, "pEventSrc");
        source->UnregisterEvent(iEventID);
        Controller().RemoveEvent(source.get(), iEventID);
        return GC_ERR_SUCCESS;
    });
}

GC_API EventGetData(EVENT_HANDLE hEvent, void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEvent, "hEvent");
        CheckStringArguments("pBuffer", pBuffer, piSize);
        const CLibraryController::EventRecord record = LookUpEvent(hEvent);
        CEventObj* event = record.event;
        // Delivered data is never reported as aborted: the consumer would drop
        // what it was handed. A kill that came meanwhile ends the next wait.
        if (event->GetData(pBuffer, piSize, iTimeout)) return GC_ERR_SUCCESS;
        if (event->IsKilled()) return GC_ERR_ABORT;
        throw timeout_exception(
            Format("The specified iTimeout expired before the hEvent occurred: iTimeout = %d, "
                   "hEvent = 0x%p.",
                   iTimeout, hEvent));
    });
}

GC_API EventGetDataInfo(EVENT_HANDLE hEvent, const void* pInBuffer, size_t iInSize,
                        EVENT_DATA_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pOutBuffer,
                        size_t* piOutSize) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEvent, "hEvent");
        CheckPointer(pInBuffer, "pInBuffer");
        if (iInSize == 0) {
            throw invalid_parameter_exception(
                Format("Specified iInSize is invalid: iInSize = %d.", iInSize));
        }
        CheckPointer(piType, "piType");
        CheckPointer(piOutSize, "piOutSize");
        if (pOutBuffer != nullptr && *piOutSize == 0) {
            throw invalid_parameter_exception(
                Format("Specified piOutSize is invalid even though pOutBuffer is present: "
                       "piOutSize = 0x%p, *piOutSize = %d, pOutBuffer = 0x%p.",
                       piOutSize, *piOutSize, pOutBuffer));
        }
        const CLibraryController::EventRecord record = LookUpEvent(hEvent);
        record.event->GetDataInfo(pInBuffer, iInSize, iInfoCmd, piType, pOutBuffer, piOutSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API EventGetInfo(EVENT_HANDLE hEvent, EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                    void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEvent, "hEvent");
        CheckPointer(piType, "piType");
        CheckStringArguments("pBuffer", pBuffer, piSize);
        const CLibraryController::EventRecord record = LookUpEvent(hEvent);
        record.event->GetInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API EventFlush(EVENT_HANDLE hEvent) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEvent, "hEvent");
        LookUpEvent(hEvent).event->Flush();
        return GC_ERR_SUCCESS;
    });
}

GC_API EventKill(EVENT_HANDLE hEvent) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hEvent, "hEvent");
        const CLibraryController::EventRecord record = LookUpEvent(hEvent);
        // Kill marks the event itself, under its lock: marking it again after
        // the call would leave a mark the woken waiter already took, and the
        // next wait that times out would report an abort.
        record.event->Kill();
        return GC_ERR_SUCCESS;
    });
}
