// A consumer that leaves without closing: it opens the camera whose serial
// number it is given (and, with "acquire", streams from it), then ends the
// process ("exit") or unloads the library ("unload") with everything still
// open and GCCloseLib never called. Exit status 0 when every step worked; the
// sanitizer builds turn a fault in the producer's teardown into another status.
//
//   exiting_consumer CTI SERIAL exit|unload [acquire]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "CtiLibrary.h"

using namespace GenTL;

namespace {

constexpr uint64_t kAcquisitionStart = 0x00010020;

int Fail(const char* step, GC_ERROR result) {
    std::fprintf(stderr, "exiting_consumer: %s failed: %d\n", step, result);
    return 2;
}

std::string DeviceSerial(TestSupport::CtiLibrary& cti, IF_HANDLE iface, const char* id) {
    char text[256] = {};
    size_t size = sizeof text;
    INFO_DATATYPE type = 0;
    cti.IFGetDeviceInfo(iface, id, DEVICE_INFO_SERIAL_NUMBER, &type, text, &size);
    return text;
}

int Run(TestSupport::CtiLibrary& cti, const std::string& serial, bool acquire) {
    GC_ERROR result = GC_ERR_SUCCESS;
    if ((result = cti.GCInitLib()) != GC_ERR_SUCCESS) return Fail("GCInitLib", result);
    TL_HANDLE system = nullptr;
    if ((result = cti.TLOpen(&system)) != GC_ERR_SUCCESS) return Fail("TLOpen", result);
    IF_HANDLE iface = nullptr;
    if ((result = cti.TLOpenInterface(system, "GigE", &iface)) != GC_ERR_SUCCESS)
        return Fail("TLOpenInterface", result);
    bool8_t changed = 0;
    if ((result = cti.IFUpdateDeviceList(iface, &changed, 500)) != GC_ERR_SUCCESS)
        return Fail("IFUpdateDeviceList", result);
    uint32_t count = 0;
    cti.IFGetNumDevices(iface, &count);
    std::string id;
    for (uint32_t i = 0; i < count && id.empty(); ++i) {
        char text[256] = {};
        size_t size = sizeof text;
        if (cti.IFGetDeviceID(iface, i, text, &size) == GC_ERR_SUCCESS &&
            DeviceSerial(cti, iface, text) == serial)
            id = text;
    }
    if (id.empty()) return Fail("finding the camera", GC_ERR_INVALID_ID);
    DEV_HANDLE device = nullptr;
    if ((result = cti.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device)) !=
        GC_ERR_SUCCESS)
        return Fail("IFOpenDevice", result);
    if (!acquire) return 0;

    DS_HANDLE stream = nullptr;
    if ((result = cti.DevOpenDataStream(device, "DS0", &stream)) != GC_ERR_SUCCESS)
        return Fail("DevOpenDataStream", result);
    for (int i = 0; i < 3; ++i) {
        BUFFER_HANDLE buffer = nullptr;
        if ((result = cti.DSAllocAndAnnounceBuffer(stream, 640 * 480, nullptr, &buffer)) !=
            GC_ERR_SUCCESS)
            return Fail("DSAllocAndAnnounceBuffer", result);
        cti.DSQueueBuffer(stream, buffer);
    }
    EVENT_HANDLE event = nullptr;
    if ((result = cti.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event)) != GC_ERR_SUCCESS)
        return Fail("GCRegisterEvent", result);
    if ((result = cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE)) !=
        GC_ERR_SUCCESS)
        return Fail("DSStartAcquisition", result);
    PORT_HANDLE remote = nullptr;
    cti.DevGetPort(device, &remote);
    const uint8_t one[4] = {0, 0, 0, 1};
    size_t size = sizeof one;
    if ((result = cti.GCWritePort(remote, kAcquisitionStart, one, &size)) != GC_ERR_SUCCESS)
        return Fail("AcquisitionStart", result);
    uint8_t data[16] = {};
    size = sizeof data;
    if ((result = cti.EventGetData(event, data, &size, 5000)) != GC_ERR_SUCCESS)
        return Fail("EventGetData", result);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: exiting_consumer CTI SERIAL exit|unload [acquire]\n");
        return 2;
    }
    const bool unload = std::strcmp(argv[3], "unload") == 0;
    const bool acquire = argc > 4 && std::strcmp(argv[4], "acquire") == 0;
    auto cti = std::make_unique<TestSupport::CtiLibrary>(argv[1]);
    const int status = Run(*cti, argv[2], acquire);
    if (status != 0) return status;
    // The library goes while the camera is open (and streaming).
    if (unload) cti.reset();
    std::exit(0);
}
