// An opened camera as a GenTL device: the remote port to the camera's own
// registers and description, the camera's GenApi over it, the device's own
// description and settings, and the error events of failed accesses.
#include <atomic>
#include <thread>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

class Device : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        camera = &StartCamera("127.0.0.2", "SIM-A");
        ASSERT_EQ(Discover(), 1u);
        device = Open(DeviceID(0));
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    }

    // The next error event of the device, as its text.
    std::string NextError(EVENT_HANDLE event) {
        char data[1024] = {};
        size_t size = sizeof data;
        if (cti.EventGetData(event, data, &size, 1000) != GC_ERR_SUCCESS) return "";
        return std::string(data + 4);
    }

    GevSim::Camera* camera = nullptr;
    DEV_HANDLE device = nullptr;
    PORT_HANDLE remote = nullptr;
};

}  // namespace

TEST_F(Device, RemotePortServesTheCamerasDescriptionAndRegisters) {
    std::string xml = GenApiBridge::FetchPortXml(remote, Ports());
    EXPECT_TRUE(xml == GevSim::Camera::Xml()) << "the description differs from the camera's";

    uint8_t bytes[4] = {};
    size_t size = 4;
    ASSERT_EQ(cti.GCReadPort(remote, 0x0938, bytes, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(bytes[2], 0x0B) << "3000 ms, big-endian";
    EXPECT_EQ(bytes[3], 0xB8);

    // Six bytes: one memory read of eight, six delivered.
    uint8_t text[8] = {0, 0, 0, 0, 0, 0, 0x55, 0x55};
    size = 6;
    ASSERT_EQ(cti.GCReadPort(remote, 0x0048, text, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 6), "Tarvan");
    EXPECT_EQ(text[6], 0x55);

    char url[600] = {};
    size = sizeof url;
    ASSERT_EQ(cti.GCGetPortURL(remote, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(url).rfind("Local:", 0), 0u);
    EXPECT_EQ(size, std::strlen(url) + 2);
}

TEST_F(Device, FailedAccessesMapToGenTLCodesAndRaiseErrorEvents) {
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    uint32_t value = 0;
    size_t size = 4;
    EXPECT_EQ(cti.GCReadPort(remote, 0x00F00000, &value, &size), GC_ERR_INVALID_ADDRESS);
    EXPECT_EQ(NextError(errors), "Error GEVReadRegister at address 0xf00000 Error Code: 0x8003");

    camera->faults().FailCommands(1, 0x8006);
    size = 4;
    EXPECT_EQ(cti.GCWritePort(remote, 0x00010000, &value, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(NextError(errors), "Error GEVWriteRegister at address 0x10000 Error Code: 0x8006");
}

TEST_F(Device, CameraFeaturesReadAndWriteThroughTheProducer) {
    auto port = GenApiBridge::GenApiPort::FromPort(remote, Ports());
    EXPECT_EQ(port.GetInteger("Width"), 640);
    EXPECT_EQ(port.GetInteger("Height"), 480);
    EXPECT_EQ(port.GetEnumeration("PixelFormat"), "Mono8");
    port.SetInteger("Width", 320);
    EXPECT_EQ(port.GetInteger("Width"), 320);
    EXPECT_EQ(port.GetInteger("PayloadSize"), 320 * 480);
    EXPECT_EQ(port.GetString("DeviceSerialNumber"), "SIM-A");
}

TEST_F(Device, DeviceDescriptionShowsTheCameraAndItsSettingsReachTheLibrary) {
    auto port = GenApiBridge::GenApiPort::FromPort(device, Ports());
    EXPECT_EQ(port.GetString("DeviceID"), DeviceID(0));
    EXPECT_EQ(port.GetString("DeviceVendorName"), "Tarvane");
    EXPECT_EQ(port.GetInteger("GevDeviceIPAddress"), 0x7F000002);
    EXPECT_EQ(port.GetInteger("GevDeviceMACAddress"), 0x02005E100001);
    EXPECT_EQ(port.GetInteger("HeartbeatTimeout"), 3000);

    port.SetInteger("HeartbeatTimeout", 2000);
    EXPECT_EQ(camera->Register(0x0938), 2000u);
    port.SetInteger("GVCPAckTimeout", 350);
    port.SetInteger("GVCPRetryCount", 5);
    EXPECT_EQ(port.GetInteger("GVCPAckTimeout"), 350);
    EXPECT_EQ(port.GetInteger("GVCPRetryCount"), 5);

    uint32_t streams = 0;
    ASSERT_EQ(cti.DevGetNumDataStreams(device, &streams), GC_ERR_SUCCESS);
    EXPECT_EQ(streams, 1u);
    char id[8] = {};
    size_t size = 3;
    EXPECT_EQ(cti.DevGetDataStreamID(device, 0, id, &size), GC_ERR_BUFFER_TOO_SMALL);
    size = 4;
    ASSERT_EQ(cti.DevGetDataStreamID(device, 0, id, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "DS0");
    // Each opened stream shows in the device description, the last one selected.
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(port.GetInteger("StreamCount"), 1);
    EXPECT_EQ(port.GetString("StreamID"), "DS0");
    // Only the listed stream opens: a second module on the same channel would
    // stop the real stream when closed.
    DS_HANDLE second = nullptr;
    EXPECT_EQ(cti.DevOpenDataStream(device, "DS1", &second), GC_ERR_INVALID_ID);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(port.GetInteger("StreamCount"), 1);
    EXPECT_EQ(port.GetString("StreamDisplayName"), "Stream DS0");
    IF_HANDLE parent = nullptr;
    ASSERT_EQ(cti.DevGetParentIF(device, &parent), GC_ERR_SUCCESS);
    EXPECT_EQ(parent, iface);
}

TEST_F(Device, ConsumersCountingTheStreamsAtOnceAllSeeOne) {
    // Each count reads the camera and keeps what it read for a failed read later:
    // two threads at once must not race on what is kept.
    constexpr int kCounts = 200;
    std::atomic<int> wrong{0};
    auto count = [&] {
        for (int i = 0; i < kCounts; ++i) {
            uint32_t streams = 0;
            if (cti.DevGetNumDataStreams(device, &streams) != GC_ERR_SUCCESS || streams != 1)
                ++wrong;
        }
    };
    std::thread other(count);
    count();
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Device, StackedWritesToADeviceOpenedReadOnlyAreRefused) {
    ASSERT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    device = Open(DeviceID(0), DEVICE_ACCESS_READONLY);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    uint32_t value = 0x11111111;
    PORT_REGISTER_STACK_ENTRY entry{0x00010000, &value, 4};
    for (PORT_HANDLE port : {static_cast<PORT_HANDLE>(device), remote}) {
        size_t entries = 1;
        EXPECT_EQ(cti.GCWritePortStacked(port, &entry, &entries), GC_ERR_ACCESS_DENIED);
        EXPECT_EQ(cti.LastErrorText(), "GC_ERR_ACCESS_DENIED");
    }
    // The plain write goes to the device: read-only access skips it quietly.
    size_t size = 4;
    EXPECT_EQ(cti.GCWritePort(remote, 0x00010000, &value, &size), GC_ERR_SUCCESS);
    EXPECT_NE(camera->Register(0x00010000), 0x11111111u);
}
