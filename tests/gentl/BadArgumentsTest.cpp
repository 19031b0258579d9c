// Every export against missing pointers, zero sizes, garbage handles and
// handles of the wrong kind, with a camera open and streaming: each answers
// with an error code (the process surviving is half the check).
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

class BadArguments : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
        ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
        buffers = Announce(2, PayloadSize(), true);
        QueueAll(buffers);
        RegisterNewBuffer();
        StartStream();
    }
    void TearDown() override {
        if (stream != nullptr) cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL);
        StreamTest::TearDown();
    }

    PORT_HANDLE remote = nullptr;
    std::vector<BUFFER_HANDLE> buffers;
};

}  // namespace

TEST_F(BadArguments, MissingPointersAreRefused) {
    const GC_ERROR ok = GC_ERR_SUCCESS;
    INFO_DATATYPE type = 0;
    size_t size = 16;
    uint32_t count = 0;
    EXPECT_NE(cti.GCGetInfo(TL_INFO_ID, &type, nullptr, nullptr), ok);
    EXPECT_NE(cti.GCGetLastError(nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.TLOpen(nullptr), ok);
    EXPECT_NE(cti.TLGetInfo(system, TL_INFO_ID, &type, nullptr, nullptr), ok);
    EXPECT_NE(cti.TLGetNumInterfaces(system, nullptr), ok);
    EXPECT_NE(cti.TLGetInterfaceID(system, 0, nullptr, nullptr), ok);
    EXPECT_NE(cti.TLGetInterfaceInfo(system, nullptr, INTERFACE_INFO_ID, &type, nullptr, &size),
              ok);
    EXPECT_NE(cti.TLOpenInterface(system, nullptr, &iface), ok);
    EXPECT_NE(cti.TLOpenInterface(system, "GigE", nullptr), ok);
    EXPECT_NE(cti.IFGetInfo(iface, INTERFACE_INFO_ID, &type, nullptr, nullptr), ok);
    EXPECT_NE(cti.IFGetNumDevices(iface, nullptr), ok);
    EXPECT_NE(cti.IFGetDeviceID(iface, 0, nullptr, nullptr), ok);
    EXPECT_NE(cti.IFGetDeviceInfo(iface, nullptr, DEVICE_INFO_ID, &type, nullptr, &size), ok);
    EXPECT_NE(cti.IFGetDeviceInfo(iface, "x", DEVICE_INFO_ID, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.IFOpenDevice(iface, nullptr, DEVICE_ACCESS_CONTROL, &device), ok);
    EXPECT_NE(cti.IFOpenDevice(iface, "x", DEVICE_ACCESS_CONTROL, nullptr), ok);
    EXPECT_NE(cti.IFGetParentTL(iface, nullptr), ok);
    EXPECT_NE(cti.DevGetPort(device, nullptr), ok);
    EXPECT_NE(cti.DevGetNumDataStreams(device, nullptr), ok);
    EXPECT_NE(cti.DevGetDataStreamID(device, 0, nullptr, nullptr), ok);
    EXPECT_NE(cti.DevOpenDataStream(device, nullptr, nullptr), ok);
    EXPECT_NE(cti.DevGetInfo(device, DEVICE_INFO_ID, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.DevGetParentIF(device, nullptr), ok);
    EXPECT_NE(cti.GCReadPort(remote, 0x0938, nullptr, &size), ok);
    EXPECT_NE(cti.GCReadPort(remote, 0x0938, &count, nullptr), ok);
    EXPECT_NE(cti.GCWritePort(remote, 0x0938, nullptr, &size), ok);
    EXPECT_NE(cti.GCGetPortURL(remote, nullptr, nullptr), ok);
    EXPECT_NE(cti.GCGetPortInfo(remote, PORT_INFO_VENDOR, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.GCGetNumPortURLs(remote, nullptr), ok);
    EXPECT_NE(cti.GCGetPortURLInfo(remote, 0, URL_INFO_URL, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.GCReadPortStacked(remote, nullptr, &size), ok);
    EXPECT_NE(cti.GCWritePortStacked(remote, nullptr, nullptr), ok);
    for (PORT_HANDLE port : {static_cast<PORT_HANDLE>(system), static_cast<PORT_HANDLE>(iface),
                             static_cast<PORT_HANDLE>(device), static_cast<PORT_HANDLE>(stream),
                             static_cast<PORT_HANDLE>(buffers[0])}) {
        size = 4;
        EXPECT_NE(cti.GCReadPort(port, 0, nullptr, &size), ok);
        EXPECT_NE(cti.GCWritePort(port, 0, nullptr, &size), ok);
    }
    EXPECT_NE(cti.GCRegisterEvent(device, EVENT_ERROR, nullptr), ok);
    EXPECT_NE(cti.EventGetData(newBuffer, nullptr, nullptr, 0), ok);
    EXPECT_NE(cti.EventGetDataInfo(newBuffer, nullptr, 16, EVENT_DATA_ID, &type, nullptr, &size),
              ok);
    EXPECT_NE(cti.EventGetInfo(newBuffer, EVENT_EVENT_TYPE, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.DSAnnounceBuffer(stream, nullptr, 64, nullptr, nullptr), ok);
    BUFFER_HANDLE buffer = nullptr;
    EXPECT_NE(cti.DSAnnounceBuffer(stream, nullptr, 64, nullptr, &buffer), ok);
    EXPECT_NE(cti.DSAllocAndAnnounceBuffer(stream, 64, nullptr, nullptr), ok);
    EXPECT_NE(cti.DSAnnounceCompositeBuffer(stream, 2, nullptr, nullptr, nullptr, &buffer), ok);
    EXPECT_NE(cti.DSGetInfo(stream, STREAM_INFO_ID, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.DSGetBufferID(stream, 0, nullptr), ok);
    EXPECT_NE(cti.DSGetParentDev(stream, nullptr), ok);
    EXPECT_NE(cti.DSGetBufferInfo(stream, buffers[0], BUFFER_INFO_BASE, nullptr, nullptr, nullptr),
              ok);
    EXPECT_NE(cti.DSGetBufferInfoStacked(stream, buffers[0], nullptr, 1), ok);
    EXPECT_NE(cti.DSGetBufferChunkData(stream, buffers[0], nullptr, nullptr), ok);
    EXPECT_NE(cti.DSGetNumFlows(stream, nullptr), ok);
    EXPECT_NE(cti.DSGetFlowInfo(stream, 0, FLOW_INFO_SIZE, nullptr, nullptr, nullptr), ok);
    EXPECT_NE(cti.DSGetNumBufferSegments(stream, buffers[0], nullptr), ok);
    EXPECT_NE(cti.DSGetBufferSegmentInfo(stream, buffers[0], 0, SEGMENT_INFO_BASE, nullptr, nullptr,
                                         nullptr),
              ok);
    EXPECT_NE(cti.DSGetNumBufferParts(stream, buffers[0], nullptr), ok);
    // Still streaming, untouched by all of it.
    CameraApi().Execute("AcquisitionStart");
    EXPECT_EQ(Next().result, GC_ERR_SUCCESS);
}

TEST_F(BadArguments, GarbageAndWrongKindsOfHandlesAreRefused) {
    const GC_ERROR ok = GC_ERR_SUCCESS;
    // Never dereferenced: the registries are asked first.
    alignas(16) unsigned char garbage[256];
    std::memset(garbage, 0xA5, sizeof garbage);
    void* handles[] = {garbage, garbage + 8, reinterpret_cast<void*>(uintptr_t{0x10}),
                       reinterpret_cast<void*>(~uintptr_t{0} - 15)};
    INFO_DATATYPE type = 0;
    char text[64] = {};
    size_t size = sizeof text;
    uint32_t count = 0;
    for (void* h : handles) {
        size = sizeof text;
        EXPECT_NE(cti.TLClose(h), ok);
        EXPECT_NE(cti.TLGetNumInterfaces(h, &count), ok);
        EXPECT_NE(cti.IFClose(h), ok);
        EXPECT_NE(cti.IFGetNumDevices(h, &count), ok);
        EXPECT_NE(cti.IFUpdateDeviceList(h, nullptr, 10), ok);
        EXPECT_NE(cti.DevClose(h), ok);
        EXPECT_NE(cti.DevGetInfo(h, DEVICE_INFO_ID, &type, text, &size), ok);
        EXPECT_NE(cti.DSClose(h), ok);
        EXPECT_NE(cti.DSStartAcquisition(h, ACQ_START_FLAGS_DEFAULT, 1), ok);
        EXPECT_NE(cti.DSQueueBuffer(stream, h), ok);
        EXPECT_NE(cti.DSRevokeBuffer(stream, h, nullptr, nullptr), ok);
        EXPECT_NE(cti.DSGetBufferInfo(stream, h, BUFFER_INFO_BASE, &type, text, &size), ok);
        EXPECT_NE(cti.GCReadPort(h, 0, text, &size), ok);
        EXPECT_NE(cti.GCRegisterEvent(h, EVENT_ERROR, &h), ok);
        EXPECT_NE(cti.EventGetData(h, text, &size, 0), ok);
        EXPECT_NE(cti.EventKill(h), ok);
        EXPECT_NE(cti.EventFlush(h), ok);
    }
    // A module handle where another kind is asked for.
    EXPECT_NE(cti.DevClose(stream), ok);
    EXPECT_NE(cti.DSClose(device), ok);
    EXPECT_NE(cti.DSClose(buffers[0]), ok);
    EXPECT_NE(cti.IFClose(device), ok);
    EXPECT_NE(cti.TLClose(iface), ok);
    EXPECT_NE(cti.EventKill(stream), ok);
    EXPECT_NE(cti.DSQueueBuffer(stream, stream), ok);
    EXPECT_NE(cti.DSQueueBuffer(buffers[0], buffers[0]), ok);
    EXPECT_NE(cti.DevGetPort(remote, &remote), ok);
    EXPECT_NE(cti.DevOpenDataStream(iface, "DS0", &stream), ok);
    // Zero sizes.
    size = 0;
    EXPECT_NE(cti.GCReadPort(remote, 0x0938, text, &size), ok);
    BUFFER_HANDLE unused = nullptr;
    EXPECT_NE(cti.DSAllocAndAnnounceBuffer(stream, 0, nullptr, &unused), ok);
    EXPECT_NE(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 0), ok);
    // Everything still works.
    CameraApi().Execute("AcquisitionStart");
    EXPECT_EQ(Next().result, GC_ERR_SUCCESS);
}
