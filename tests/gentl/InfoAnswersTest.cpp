// Every standard info command of every module and port, as a consumer built
// on the standard header walks them: the type, the size query, a buffer one
// byte short, NUL-terminated strings whose size counts the NUL, and
// GC_ERR_NOT_IMPLEMENTED for commands the standard does not define. The IDs
// the C interface gives are the ones the module descriptions show.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "InfoChecks.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

class InfoAnswers : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
        ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    }

    // The text of `length` bytes at `address` of a module's port, up to its first NUL.
    std::string ReadPortText(PORT_HANDLE port, uint64_t address, size_t length) {
        std::vector<char> text(length + 1, 0);
        size_t size = length;
        EXPECT_EQ(cti.GCReadPort(port, address, text.data(), &size), GC_ERR_SUCCESS)
            << cti.LastErrorText();
        return std::string(text.data());
    }

    InfoCall PortInfo(PORT_HANDLE port) { return PortInfoOf(cti, port); }
    InfoCall UrlInfo(PORT_HANDLE port) { return UrlInfoOf(cti, port); }

    PORT_HANDLE remote = nullptr;
};

}  // namespace

TEST_F(InfoAnswers, ModuleInfoCommandsFollowTheStandard) {
    CheckTable(
        cti, "GCGetInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) { return cti.GCGetInfo(c, t, b, s); },
        {{TL_INFO_ID, STRING, true},
         {TL_INFO_VENDOR, STRING},
         {TL_INFO_MODEL, STRING},
         {TL_INFO_VERSION, STRING},
         {TL_INFO_TLTYPE, STRING},
         {TL_INFO_NAME, STRING, true},
         {TL_INFO_PATHNAME, STRING, true},
         {TL_INFO_DISPLAYNAME, STRING},
         {TL_INFO_CHAR_ENCODING, INT32},
         {TL_INFO_GENTL_VER_MAJOR, UINT32},
         {TL_INFO_GENTL_VER_MINOR, UINT32}});
    CheckTable(cti, "TLGetInfo",
               [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                   return cti.TLGetInfo(system, c, t, b, s);
               },
               {{TL_INFO_ID, STRING},
                {TL_INFO_VENDOR, STRING},
                {TL_INFO_MODEL, STRING},
                {TL_INFO_VERSION, STRING},
                {TL_INFO_TLTYPE, STRING},
                {TL_INFO_NAME, STRING},
                {TL_INFO_PATHNAME, STRING},
                {TL_INFO_DISPLAYNAME, STRING},
                {TL_INFO_CHAR_ENCODING, INT32},
                {TL_INFO_GENTL_VER_MAJOR, UINT32},
                {TL_INFO_GENTL_VER_MINOR, UINT32}});
    const std::vector<Expected> interfaceInfo = {{INTERFACE_INFO_ID, STRING},
                                                 {INTERFACE_INFO_DISPLAYNAME, STRING},
                                                 {INTERFACE_INFO_TLTYPE, STRING}};
    CheckTable(
        cti, "IFGetInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.IFGetInfo(iface, c, t, b, s);
        },
        interfaceInfo);
    char interfaceId[256] = {};
    size_t idSize = sizeof interfaceId;
    ASSERT_EQ(cti.TLGetInterfaceID(system, 0, interfaceId, &idSize), GC_ERR_SUCCESS);
    CheckTable(
        cti, "TLGetInterfaceInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.TLGetInterfaceInfo(system, interfaceId, c, t, b, s);
        },
        interfaceInfo);
    const std::vector<Expected>& deviceInfo = kDeviceInfo;
    const std::string id = DeviceID(0);
    CheckTable(
        cti, "IFGetDeviceInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.IFGetDeviceInfo(iface, id.c_str(), c, t, b, s);
        },
        deviceInfo);
    CheckTable(
        cti, "DevGetInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.DevGetInfo(device, c, t, b, s);
        },
        deviceInfo);
    CheckTable(cti, "DSGetInfo",
               [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                   return cti.DSGetInfo(stream, c, t, b, s);
               },
               {{STREAM_INFO_ID, STRING},
                {STREAM_INFO_NUM_DELIVERED, UINT64},
                {STREAM_INFO_NUM_UNDERRUN, UINT64},
                {STREAM_INFO_NUM_ANNOUNCED, SIZET},
                {STREAM_INFO_NUM_QUEUED, SIZET},
                {STREAM_INFO_NUM_AWAIT_DELIVERY, SIZET},
                {STREAM_INFO_NUM_STARTED, UINT64},
                {STREAM_INFO_PAYLOAD_SIZE, SIZET},
                {STREAM_INFO_IS_GRABBING, BOOL8},
                {STREAM_INFO_DEFINES_PAYLOADSIZE, BOOL8},
                {STREAM_INFO_TLTYPE, STRING},
                {STREAM_INFO_NUM_CHUNKS_MAX, SIZET, true},
                {STREAM_INFO_BUF_ANNOUNCE_MIN, SIZET},
                {STREAM_INFO_BUF_ALIGNMENT, SIZET},
                {STREAM_INFO_GENDC_PREFIX_PRESENT, BOOL8}});
}

TEST_F(InfoAnswers, BufferAndEventInfoCommandsFollowTheStandard) {
    std::vector<BUFFER_HANDLE> buffers = Announce(2, PayloadSize(), true);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStop");

    CheckTable(cti, "DSGetBufferInfo",
               [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                   return cti.DSGetBufferInfo(stream, delivery.buffer, c, t, b, s);
               },
               {{BUFFER_INFO_BASE, PTR},
                {BUFFER_INFO_SIZE, SIZET},
                {BUFFER_INFO_USER_PTR, PTR},
                {BUFFER_INFO_TIMESTAMP, UINT64},
                {BUFFER_INFO_NEW_DATA, BOOL8},
                {BUFFER_INFO_IS_QUEUED, BOOL8},
                {BUFFER_INFO_IS_ACQUIRING, BOOL8},
                {BUFFER_INFO_IS_INCOMPLETE, BOOL8},
                {BUFFER_INFO_TLTYPE, STRING},
                {BUFFER_INFO_SIZE_FILLED, SIZET},
                {BUFFER_INFO_WIDTH, SIZET},
                {BUFFER_INFO_HEIGHT, SIZET},
                {BUFFER_INFO_XOFFSET, SIZET},
                {BUFFER_INFO_YOFFSET, SIZET},
                {BUFFER_INFO_XPADDING, SIZET},
                {BUFFER_INFO_YPADDING, SIZET},
                {BUFFER_INFO_FRAMEID, UINT64},
                {BUFFER_INFO_IMAGEPRESENT, BOOL8},
                {BUFFER_INFO_IMAGEOFFSET, SIZET},
                {BUFFER_INFO_PAYLOADTYPE, SIZET},
                {BUFFER_INFO_PIXELFORMAT, UINT64},
                {BUFFER_INFO_PIXELFORMAT_NAMESPACE, UINT64},
                {BUFFER_INFO_DELIVERED_IMAGEHEIGHT, SIZET},
                {BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE, SIZET},
                {BUFFER_INFO_CHUNKLAYOUTID, UINT64},
                {BUFFER_INFO_FILENAME, STRING},
                {BUFFER_INFO_PIXEL_ENDIANNESS, INT32},
                {BUFFER_INFO_DATA_SIZE, SIZET},
                {BUFFER_INFO_TIMESTAMP_NS, UINT64, true},
                {BUFFER_INFO_DATA_LARGER_THAN_BUFFER, BOOL8},
                {BUFFER_INFO_CONTAINS_CHUNKDATA, BOOL8}});

    const std::vector<Expected> eventInfo = {{EVENT_EVENT_TYPE, INT32},
                                             {EVENT_NUM_IN_QUEUE, SIZET},
                                             {EVENT_NUM_FIRED, UINT64},
                                             {EVENT_SIZE_MAX, SIZET},
                                             {EVENT_INFO_DATA_SIZE_MAX, SIZET}};
    EVENT_HANDLE errors = nullptr, remoteEvents = nullptr, module = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_REMOTE_DEVICE, &remoteEvents), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_MODULE, &module), GC_ERR_SUCCESS);
    for (EVENT_HANDLE event : {newBuffer, errors, remoteEvents, module}) {
        CheckTable(
            cti, "EventGetInfo",
            [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                return cti.EventGetInfo(event, c, t, b, s);
            },
            eventInfo);
    }
    // The new-buffer event fired once for the one frame delivered.
    uint64_t fired = 0;
    size_t size = sizeof fired;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(cti.EventGetInfo(newBuffer, EVENT_NUM_FIRED, &type, &fired, &size), GC_ERR_SUCCESS);
    EXPECT_GE(fired, 1u);
    StopAndRelease(buffers);
}

TEST_F(InfoAnswers, EveryPortAnswersItsInfoAndItsDescriptionsVersions) {
    std::vector<BUFFER_HANDLE> buffers = Announce(1, PayloadSize(), true);
    struct Port {
        const char* name;
        PORT_HANDLE handle;
        bool moduleDescription;  // the producer's own XML, so its versions are known
    };
    const Port ports[] = {{"system", system, true},     {"interface", iface, true},
                          {"device", device, true},     {"stream", stream, true},
                          {"buffer", buffers[0], true}, {"remote", remote, false}};
    for (const Port& port : ports) {
        SCOPED_TRACE(port.name);
        CheckTable(cti, "GCGetPortInfo", PortInfo(port.handle), kPortInfo);
        CheckTable(cti, "GCGetPortURLInfo", UrlInfo(port.handle), kUrlInfo);
        if (port.moduleDescription) ExpectVersionsOfTheFile(cti, port.handle);
    }
    // The camera's description is named by its URL.
    auto url = UrlInfo(remote);
    EXPECT_EQ(Int32(cti, url, URL_INFO_SCHEME), URL_SCHEME_LOCAL);
    EXPECT_NE(Text(cti, url, URL_INFO_URL).find(Text(cti, url, URL_INFO_FILENAME)),
              std::string::npos);
    StopAndReleaseIdle(buffers);
}

TEST_F(InfoAnswers, EachModuleHasOneIDEverywhere) {
    auto tlInfo = [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
        return cti.TLGetInfo(system, c, t, b, s);
    };
    // The system: TL_INFO_ID, the description's TLID and its port's ID.
    const std::string systemId = Text(cti, tlInfo, TL_INFO_ID);
    EXPECT_FALSE(systemId.empty());
    EXPECT_EQ(ReadPortText(system, 0x100, 256), systemId);
    EXPECT_EQ(Text(cti, PortInfo(system), PORT_INFO_ID), systemId);

    // The interface: TLGetInterfaceID, the system description's InterfaceID
    // (selector 0), IFGetInfo and its port.
    char interfaceId[256] = {};
    size_t size = sizeof interfaceId;
    ASSERT_EQ(cti.TLGetInterfaceID(system, 0, interfaceId, &size), GC_ERR_SUCCESS);
    uint32_t selector = 0;
    size = sizeof selector;
    ASSERT_EQ(cti.GCWritePort(system, 0x008, &selector, &size), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(ReadPortText(system, 0x740, 256), interfaceId);
    auto ifInfo = [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
        return cti.IFGetInfo(iface, c, t, b, s);
    };
    EXPECT_EQ(Text(cti, ifInfo, INTERFACE_INFO_ID), interfaceId);
    EXPECT_EQ(Text(cti, PortInfo(iface), PORT_INFO_ID), interfaceId);
    // What a consumer selected by the description opens.
    IF_HANDLE again = nullptr;
    EXPECT_EQ(cti.TLOpenInterface(system, interfaceId, &again), GC_ERR_SUCCESS);

    // The device module and the remote device: DevGetInfo's ID on both ports.
    auto devInfo = [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
        return cti.DevGetInfo(device, c, t, b, s);
    };
    const std::string deviceId = Text(cti, devInfo, DEVICE_INFO_ID);
    EXPECT_EQ(Text(cti, PortInfo(device), PORT_INFO_ID), deviceId);
    EXPECT_EQ(Text(cti, PortInfo(remote), PORT_INFO_ID), deviceId);

    // The stream: DevGetDataStreamID, STREAM_INFO_ID, the device description's
    // StreamID, the stream description's StreamID and its port.
    char streamId[256] = {};
    size = sizeof streamId;
    ASSERT_EQ(cti.DevGetDataStreamID(device, 0, streamId, &size), GC_ERR_SUCCESS);
    auto dsInfo = [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
        return cti.DSGetInfo(stream, c, t, b, s);
    };
    EXPECT_EQ(Text(cti, dsInfo, STREAM_INFO_ID), streamId);
    EXPECT_EQ(ReadPortText(device, 0x80, 128), streamId);
    EXPECT_EQ(ReadPortText(stream, 0x80, 64), streamId);
    EXPECT_EQ(Text(cti, PortInfo(stream), PORT_INFO_ID), streamId);
}
