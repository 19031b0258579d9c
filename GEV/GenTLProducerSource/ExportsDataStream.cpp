// Data stream exports (DS...) other than the buffer information ones: entry
// check, argument checks and the registry lookups of hDataStream and
// hBuffer, then the call into the data stream module.
#include "Boundary.h"
#include "DataStream.h"
#include "Device.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "StringFormat.h"

using namespace GenTL;
using Platform::Format;

namespace {

// The registered buffer record behind hBuffer; an unknown pointer is reported
// as the invalid buffer parameter of revoke and queue.
ModuleRef LookUpBuffer(BUFFER_HANDLE hBuffer) {
    ModuleRef buffer = Controller().FindBuffer(hBuffer);
    if (buffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pB is not a nullptr but invalid: pB = 0x%p.", hBuffer));
    }
    return buffer;
}

// The common worker of DSAnnounceBuffer and DSAllocAndAnnounceBuffer; it
// carries the boundary for both. `announce` runs the module operation.
template <class Announce>
GC_ERROR AnnounceBufferWorker(DS_HANDLE hDataStream, size_t iSize, BUFFER_HANDLE* phBuffer,
                              Announce&& announce) {
    return RunExport([&]() -> GC_ERROR {
        // The out-pointer is tested before the stream handle here.
        CheckPointer(phBuffer, "hBuffer");
        CheckHandle(hDataStream, "hDataStream");
        if (iSize == 0) throw invalid_parameter_exception("Specified iSize is 0.");
        return announce(LookUpDataStream(hDataStream));
    });
}

}  // namespace

GC_API DSAnnounceBuffer(DS_HANDLE hDataStream, void* pBuffer, size_t iSize, void* pPrivate,
                        BUFFER_HANDLE* phBuffer) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return AnnounceBufferWorker(
        hDataStream, iSize, phBuffer, [&](const ModuleRef& stream) -> GC_ERROR {
            *phBuffer = ToHandle(AsDataStream(stream)->AnnounceBuffer(pBuffer, iSize, pPrivate));
            return GC_ERR_SUCCESS;
        });
}

GC_API DSAllocAndAnnounceBuffer(DS_HANDLE hDataStream, size_t iSize, void* pPrivate,
                                BUFFER_HANDLE* phBuffer) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return AnnounceBufferWorker(
        hDataStream, iSize, phBuffer, [&](const ModuleRef& stream) -> GC_ERROR {
            *phBuffer = ToHandle(AsDataStream(stream)->AllocAndAnnounceBuffer(iSize, pPrivate));
            return GC_ERR_SUCCESS;
        });
}

GC_API DSFlushQueue(DS_HANDLE hDataStream, ACQ_QUEUE_TYPE iOperation) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        if (iOperation > ACQ_QUEUE_ALL_DISCARD) {
            throw invalid_parameter_exception("Specified iOperation is invalid.");
        }
        AsDataStream(LookUpDataStream(hDataStream))->FlushQueue(iOperation);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSStartAcquisition(DS_HANDLE hDataStream, ACQ_START_FLAGS iStartFlags,
                          uint64_t iNumToAcquire) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        if (iNumToAcquire == 0) {
            throw invalid_parameter_exception("Specified iNumFramesToAcquire is invalid.");
        }
        if (iStartFlags != ACQ_START_FLAGS_DEFAULT) {
            throw invalid_parameter_exception("Specified iStartFlags is invalid.");
        }
        CDataStream* stream = AsDataStream(LookUpDataStream(hDataStream));
        if (stream->NumAnnounced() < 1) {
            throw invalid_buffer_size_exception(
                "The number of announced buffers is leass than the minimum.");
        }
        stream->StartAcquisition(iNumToAcquire);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSStopAcquisition(DS_HANDLE hDataStream, ACQ_STOP_FLAGS iStopFlags) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        if (iStopFlags > ACQ_STOP_FLAGS_KILL) {
            // %p prints the flag word as the 32-bit value it is.
            throw invalid_parameter_exception(
                Format("Specified iStopFlag is invalid: iStopFlag = 0x%p.",
                       static_cast<uint32_t>(iStopFlags)));
        }
        AsDataStream(LookUpDataStream(hDataStream))->StopAcquisition();
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetInfo(DS_HANDLE hDataStream, STREAM_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                 void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        // piType before piSize in this export.
        CheckPointer(piType, "piType");
        CheckInfoArguments(piType, pBuffer, piSize);
        AsDataStream(LookUpDataStream(hDataStream))->GetInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetBufferID(DS_HANDLE hDataStream, uint32_t iIndex, BUFFER_HANDLE* phBuffer) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(phBuffer, "phBuffer");
        *phBuffer = ToHandle(AsDataStream(LookUpDataStream(hDataStream))->BufferByIndex(iIndex));
        return GC_ERR_SUCCESS;
    });
}

GC_API DSClose(DS_HANDLE hDataStream) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        ICommonBase* device = nullptr;
        ModuleRef stream = LookUpDataStream(hDataStream, &device);
        CDataStream* concrete = AsDataStream(stream);
        // The stream holds its device, so `device` stays valid for this call.
        auto* owner = dynamic_cast<CDevice*>(device);
        if (owner == nullptr) throw invalid_handle_exception("The specified device is not found.");
        // Unregistered first: of two closes racing, the second finds no stream.
        if (!Controller().TakeDataStream(hDataStream)) {
            throw invalid_handle_exception(
                Format("The specified data stream hDataStream not found: hDataStream = 0x%p.",
                       hDataStream));
        }
        owner->CloseDataStream(concrete);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSRevokeBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, void** ppBuffer,
                      void** ppPrivate) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckHandle(hBuffer, "hBuffer");
        if (Controller().NumDevices() == 0) {
            throw invalid_handle_exception("There's no available device.");
        }
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = LookUpBuffer(hBuffer);
        AsDataStream(stream)->RevokeBuffer(buffer.get(), ppBuffer, ppPrivate);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSQueueBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckHandle(hBuffer, "hBuffer");
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = LookUpBuffer(hBuffer);
        AsDataStream(stream)->QueueBuffer(buffer.get());
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetParentDev(DS_HANDLE hDataStream, DEV_HANDLE* phDevice) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(phDevice, "phDevice");
        // The registry keeps each stream with the device that opened it.
        ICommonBase* device = nullptr;
        LookUpDataStream(hDataStream, &device);
        *phDevice = ToHandle(device);
        return GC_ERR_SUCCESS;
    });
}
