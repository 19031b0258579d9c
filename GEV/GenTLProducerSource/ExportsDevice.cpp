// Device exports (Dev...): entry check, argument checks and the registry
// lookup of hDevice, then the call into the device module.
#include <memory>
#include <string>

#include "Boundary.h"
#include "DataStream.h"
#include "Device.h"
#include "DevicePort.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "Interface.h"
#include "LibraryController.h"
#include "StringFormat.h"

using namespace GenTL;
using Platform::Format;

namespace {

// The registered device behind hDevice, or the invalid-handle failure `text`.
// The registry is asked before the handle is used in any way, so an unknown
// pointer is never dereferenced; holding the reference keeps the device alive
// for the rest of the call.
std::shared_ptr<ICommonBase> LookUpDevice(DEV_HANDLE hDevice, const std::string& text,
                                          ICommonBase** parentIface = nullptr) {
    std::shared_ptr<ICommonBase> device = Controller().FindDevice(hDevice, parentIface);
    if (!device) throw invalid_handle_exception(text);
    return device;
}

// The device module behind a registered device; a failed type check is `text`.
CDevice* AsDevice(const std::shared_ptr<ICommonBase>& device, const std::string& text) {
    auto* concrete = dynamic_cast<CDevice*>(device.get());
    if (concrete == nullptr) throw invalid_handle_exception(text);
    return concrete;
}

const char* const kDeviceNotFound = "The specified device is not found.";
// The one stream every device lists.
const char* const kStreamID = "DS0";

std::string InvalidDeviceText(DEV_HANDLE hDevice) {
    return Format("Specified hDevice is invalid: hDevice = 0x%p.", hDevice);
}

// The registry checks of the exports that address a stream of the device.
void CheckDevicesOpen() {
    if (Controller().NumInterfaces() == 0) {
        throw invalid_handle_exception("There's no opened interface.");
    }
    if (Controller().NumDevices() == 0) throw invalid_handle_exception("There's no opened device.");
}

}  // namespace

GC_API DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        CheckPointer(phRemoteDevice, "phRemoteDev");
        std::shared_ptr<ICommonBase> device = LookUpDevice(hDevice, kDeviceNotFound);
        CDevice* concrete = AsDevice(device, InvalidDeviceText(hDevice));
        *phRemoteDevice = ToHandle(concrete->RemotePort());
        Controller().RegisterDevicePort(device, concrete->RemotePort());
        return GC_ERR_SUCCESS;
    });
}

GC_API DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        CheckPointer(piNumDataStreams, "piNumDataStreams");
        std::shared_ptr<ICommonBase> device = LookUpDevice(hDevice, kDeviceNotFound);
        *piNumDataStreams = AsDevice(device, InvalidDeviceText(hDevice))->GetNumDataStreams();
        return GC_ERR_SUCCESS;
    });
}

GC_API DevGetDataStreamID(DEV_HANDLE hDevice, uint32_t iIndex, char* sDataStreamID,
                          size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckStringArguments("sDataStreamID", sDataStreamID, piSize);
        LookUpDevice(hDevice, InvalidDeviceText(hDevice));
        CheckDevicesOpen();
        // Every device advertises exactly one stream, "DS0"; the answer needs
        // nothing from the device itself.
        if (iIndex != 0) {
            throw invalid_index_exception(Format("Invalid data stream index %d.", iIndex));
        }
        const std::string id = kStreamID;
        const size_t required = id.size() + 1;
        if (*piSize != 0 && *piSize < required) {
            throw buffer_too_small_exception(Format(
                "Prepared buffer is too small. Required: %d. Prepared: %d.", required, *piSize));
        }
        CopyInfoString(nullptr, sDataStreamID, piSize, id);
        return GC_ERR_SUCCESS;
    });
}

GC_API DevOpenDataStream(DEV_HANDLE hDevice, const char* sDataStreamID, DS_HANDLE* phDataStream) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        CheckPointer(sDataStreamID, "pDataStreamID");
        CheckPointer(phDataStream, "phDataStream");
        if (*sDataStreamID == '\0') {
            throw invalid_parameter_exception("Specified pDataStreamID is invalid.");
        }
        std::shared_ptr<ICommonBase> device = LookUpDevice(hDevice, InvalidDeviceText(hDevice));
        CDevice* concrete = AsDevice(device, InvalidDeviceText(hDevice));
        CheckDevicesOpen();
        // Only the streams the device lists: another ID would open a second
        // module on the same channel, whose close stops the real one.
        if (std::string(sDataStreamID) != kStreamID) {
            throw invalid_id_exception(Format(
                "Specified pDataStreamID is not a stream of the device: %s.", sDataStreamID));
        }
        std::shared_ptr<CDataStream> stream = concrete->OpenDataStream(sDataStreamID);
        Controller().AddDataStream(concrete, stream);
        // A device closed while the stream opened keeps no stream.
        if (!Controller().FindDevice(hDevice)) {
            Controller().TakeDataStream(ToHandle(stream.get()));
            concrete->CloseDataStream(stream.get());
            throw invalid_handle_exception(InvalidDeviceText(hDevice));
        }
        *phDataStream = ToHandle(stream.get());
        return GC_ERR_SUCCESS;
    });
}

GC_API DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                  void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        // piType before piSize in this export.
        CheckPointer(piType, "piType");
        CheckInfoArguments(piType, pBuffer, piSize);
        std::shared_ptr<ICommonBase> device = LookUpDevice(hDevice, kDeviceNotFound);
        AsDevice(device, InvalidDeviceText(hDevice))->GetInfo(iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DevClose(DEV_HANDLE hDevice) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        std::shared_ptr<ICommonBase> device = LookUpDevice(hDevice, kDeviceNotFound);
        CDevice* concrete = AsDevice(device, InvalidDeviceText(hDevice));
        // Unregistered first: of two closes racing, the second finds no device.
        ICommonBase* parentHandle = nullptr;
        if (!Controller().TakeDevice(hDevice, &parentHandle))
            throw invalid_handle_exception(kDeviceNotFound);
        // The interface is asked through the registry: it may be closing on
        // another thread, and then it closes this device itself.
        if (auto parent =
                std::dynamic_pointer_cast<CInterface>(Controller().FindInterface(parentHandle)))
            parent->RemoveDevice(concrete);
        else
            concrete->Close();
        return GC_ERR_SUCCESS;
    });
}

GC_API DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDevice, "hDevice");
        CheckPointer(phIface, "phIface");
        // The registry keeps each device with the interface that opened it.
        ICommonBase* parentIface = nullptr;
        LookUpDevice(hDevice, "Specified hDevice is invalid.", &parentIface);
        *phIface = ToHandle(parentIface);
        return GC_ERR_SUCCESS;
    });
}
