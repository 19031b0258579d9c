// A consumer finds cameras through the "GigE" interface: device list, IDs,
// device info, the interface description read by a GenApi engine, and the
// access rules of IFOpenDevice.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

class Interface : public GenTLCameraTest {};

}  // namespace

TEST_F(Interface, DiscoveryListsTheCameraWithItsIdentity) {
    uint32_t count = 99;
    ASSERT_EQ(cti.IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0u) << "no discovery before the first update";
    char id[64];
    size_t size = sizeof id;
    EXPECT_EQ(cti.IFGetDeviceID(iface, 0, id, &size), GC_ERR_INVALID_INDEX);
    EXPECT_EQ(cti.LastErrorText(), "Error accessing DeviceID 0");

    StartCamera("127.0.0.2", "SIM-A");
    ASSERT_EQ(Discover(), 1u);
    const std::string deviceId = DeviceID(0);
    EXPECT_EQ(deviceId, "GEVSIM-1@02-00-5E-10-00-01");
    EXPECT_EQ(DeviceText(deviceId, DEVICE_INFO_VENDOR), "Tarvane");
    EXPECT_EQ(DeviceText(deviceId, DEVICE_INFO_MODEL), "GEVSIM-1");
    EXPECT_EQ(DeviceText(deviceId, DEVICE_INFO_SERIAL_NUMBER), "SIM-A");
    EXPECT_EQ(DeviceText(deviceId, DEVICE_INFO_TLTYPE), "GEV");
    EXPECT_EQ(DeviceText(deviceId, DEVICE_INFO_DISPLAYNAME), "Tarvane:GEVSIM-1:SIM-A@127.0.0.2");
    EXPECT_EQ(DeviceInt(deviceId, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_READWRITE);

    uint64_t frequency = 0;
    size = 4;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(cti.IFGetDeviceInfo(iface, deviceId.c_str(), DEVICE_INFO_TIMESTAMP_FREQUENCY, &type,
                                  &frequency, &size),
              GC_ERR_BUFFER_TOO_SMALL);
    size = 8;
    ASSERT_EQ(cti.IFGetDeviceInfo(iface, deviceId.c_str(), DEVICE_INFO_TIMESTAMP_FREQUENCY, &type,
                                  &frequency, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(frequency, 1000000000u);

    // A lower-case MAC is another ID.
    EXPECT_EQ(cti.IFGetDeviceInfo(iface, "GEVSIM-1@02-00-5e-10-00-01", DEVICE_INFO_VENDOR, &type,
                                  id, &size),
              GC_ERR_INVALID_ID);

    bool8_t changed = 1;
    ASSERT_EQ(cti.IFUpdateDeviceList(iface, &changed, 300), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 0) << "the same camera again";
}

TEST_F(Interface, DescriptionShowsTheSelectedDeviceThroughGenApi) {
    StartCamera("127.0.0.2", "SIM-A");
    StartCamera("127.0.0.3", "SIM-B");
    auto port = GenApiBridge::GenApiPort::FromPort(iface, Ports());
    EXPECT_EQ(port.GetInteger("DeviceCount"), 0);
    port.Execute("DeviceUpdateList");  // discovery from the description alone
    EXPECT_EQ(port.GetInteger("DeviceCount"), 2);
    for (int64_t index = 0; index < 2; ++index) {
        port.SetInteger("DeviceSelector", index);
        const std::string id = DeviceID(static_cast<uint32_t>(index));
        EXPECT_EQ(port.GetString("DeviceID"), id);
        EXPECT_EQ(port.GetString("DeviceVendorName"), DeviceText(id, DEVICE_INFO_VENDOR));
        EXPECT_EQ(port.GetString("DeviceSerialNumber"), DeviceText(id, DEVICE_INFO_SERIAL_NUMBER));
        const int64_t expectedIp = index == 0 ? 0x7F000002 : 0x7F000003;
        EXPECT_EQ(port.GetInteger("GevDeviceIPAddress"), expectedIp);
        EXPECT_EQ(port.GetInteger("GevDeviceMACAddress"), 0x02005E100000 + index + 1);
        EXPECT_EQ(port.GetEnumeration("DeviceAccessStatus"), "ReadWrite");
    }
}

TEST_F(Interface, OpenFlagsAndAccessRules) {
    GevSim::Camera& camera = StartCamera("127.0.0.2", "SIM-A");
    ASSERT_EQ(Discover(), 1u);
    const std::string id = DeviceID(0);
    DEV_HANDLE device = nullptr;
    for (DEVICE_ACCESS_FLAGS bad : {0, 5}) {
        EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), bad, &device), GC_ERR_INVALID_PARAMETER);
    }
    EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), 1001, &device), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(cti.LastErrorText(), "Device access denied");

    struct Case {
        DEVICE_ACCESS_FLAGS flags;
        uint32_t ccp;
    };
    for (Case c : {Case{DEVICE_ACCESS_READONLY, 0}, Case{DEVICE_ACCESS_CONTROL, 2},
                   Case{DEVICE_ACCESS_EXCLUSIVE, 1}}) {
        device = Open(id, c.flags);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(camera.Register(0x0A00), c.ccp) << "flags " << c.flags;
        DEV_HANDLE second = nullptr;
        EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), c.flags, &second), GC_ERR_RESOURCE_IN_USE);
        EXPECT_EQ(cti.LastErrorText(), "The specified device is already in use.");
        int32_t access = 0;
        size_t size = sizeof access;
        INFO_DATATYPE type = 0;
        ASSERT_EQ(cti.DevGetInfo(device, DEVICE_INFO_ACCESS_STATUS, &type, &access, &size),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(access, c.flags == DEVICE_ACCESS_READONLY ? DEVICE_ACCESS_STATUS_OPEN_READONLY
                                                            : DEVICE_ACCESS_STATUS_OPEN_READWRITE);
        // The interface's list says the same of a device this process has open.
        EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), access);
        ASSERT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
        EXPECT_EQ(camera.Register(0x0A00), 0u) << "close releases the privilege";
    }
}

TEST_F(Interface, CameraHeldByAnotherApplicationCannotBeLocked) {
    GevSim::Camera& camera = StartCamera("127.0.0.2", "SIM-A");
    // Another host takes exclusive access: a plain socket writing CCP.
    int other = ::socket(AF_INET, SOCK_DGRAM, 0);
    const uint8_t takeExclusive[16] = {0x42, 0x01, 0x00, 0x82, 0x00, 0x08, 0x00, 0x01,
                                       0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x01};
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(3956);
    inet_pton(AF_INET, "127.0.0.2", &target.sin_addr);
    ::sendto(other, takeExclusive, sizeof takeExclusive, 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target);
    ASSERT_TRUE(WaitFor([&] { return camera.Register(0x0A00) == 1; }));

    ASSERT_EQ(Discover(), 1u);
    const std::string id = DeviceID(0);
    EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_NOACCESS);
    DEV_HANDLE device = nullptr;
    EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device),
              GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.LastErrorText(), "Can't lock the target device.");
    EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_NOACCESS);
    ::close(other);
}

TEST_F(Interface, ForceIpThroughTheInterfaceRegistersMovesTheCamera) {
    GevSim::Camera& camera = StartCamera("127.0.0.2", "SIM-A");
    auto write32 = [&](uint64_t address, uint32_t value) {
        size_t size = 4;
        ASSERT_EQ(cti.GCWritePort(iface, address, &value, &size), GC_ERR_SUCCESS);
    };
    // A missing field: nothing is sent, the status register tells.
    write32(0x540, 1);
    uint32_t status = 0;
    size_t size = 4;
    ASSERT_EQ(cti.GCReadPort(iface, 0x55C, &status, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(status, 0xFFFFFC0Fu);

    write32(0x544, 0x7F000009);  // 127.0.0.9, host order
    write32(0x548, 0xFF000000);
    write32(0x54C, 0);
    const uint8_t mac[8] = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01, 0, 0};
    size = sizeof mac;
    ASSERT_EQ(cti.GCWritePort(iface, 0x550, mac, &size), GC_ERR_SUCCESS);
    write32(0x558, 0x7F000001);
    write32(0x540, 1);
    size = 4;
    ASSERT_EQ(cti.GCReadPort(iface, 0x55C, &status, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(camera.Address(), "127.0.0.9");
    ASSERT_EQ(Discover(), 1u);
    EXPECT_EQ(DeviceText(DeviceID(0), DEVICE_INFO_DISPLAYNAME), "Tarvane:GEVSIM-1:SIM-A@127.0.0.9");
    DEV_HANDLE device = Open(DeviceID(0));
    EXPECT_NE(device, nullptr) << "opened at its new address";
}
