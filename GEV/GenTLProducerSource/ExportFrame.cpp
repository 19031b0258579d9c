#include "ExportFrame.h"

#include "DataStream.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

// The registered stream behind hDataStream, whose device and interface must
// still be registered too; `pDevice` receives the device that opened it. The
// registry is asked before the handle is used in any way, so an unknown
// pointer is never dereferenced.
ModuleRef LookUpDataStream(DS_HANDLE hDataStream, ICommonBase** pDevice) {
    CLibraryController& controller = Controller();
    ICommonBase* device = nullptr;
    ModuleRef stream = controller.FindDataStream(hDataStream, &device);
    if (stream == nullptr) {
        throw invalid_handle_exception(Format(
            "The specified data stream hDataStream not found: hDataStream = 0x%p.", hDataStream));
    }
    ICommonBase* iface = nullptr;
    if (!controller.FindDevice(ToHandle(device), &iface)) {
        throw invalid_handle_exception("The specified device is not found.");
    }
    if (!controller.FindInterface(ToHandle(iface))) {
        throw invalid_handle_exception(
            Format("The specified interface not found: hIface = 0x%p.", ToHandle(iface)));
    }
    if (pDevice != nullptr) *pDevice = device;
    return stream;
}

CDataStream* AsDataStream(const ModuleRef& stream) {
    auto* concrete = dynamic_cast<CDataStream*>(stream.get());
    if (concrete == nullptr) {
        throw invalid_handle_exception(Format(
            "The specified data stream hDataStream not found: hDataStream = 0x%p.", stream.get()));
    }
    return concrete;
}

}  // namespace GenTL
