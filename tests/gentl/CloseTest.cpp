// Closing in every order releases the camera: privilege back to 0, heartbeat
// stopped, nothing left running; and open and close while events arrive.
#include <atomic>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

class Closing : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        camera = &StartCamera("127.0.0.2", "SIM-A");
        ASSERT_EQ(Discover(), 1u);
        device = Open(DeviceID(0));
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(camera->Register(0x0A00), 2u);
    }

    // No privilege, and no more heartbeat reads reach the camera.
    void ExpectReleased() {
        EXPECT_EQ(camera->Register(0x0A00), 0u);
        camera->ClearReceivedCommands();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_TRUE(camera->ReceivedCommands().empty()) << "a heartbeat still runs";
    }

    GevSim::Camera* camera = nullptr;
    DEV_HANDLE device = nullptr;
};

}  // namespace

TEST_F(Closing, DeviceThenInterfaceThenSystemThenLibrary) {
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.DevClose(device), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.IFClose(iface), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.TLClose(system), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.GCCloseLib(), GC_ERR_SUCCESS);
    ExpectReleased();
}

TEST_F(Closing, InterfaceCloseTakesItsDevices) {
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.IFClose(iface), GC_ERR_SUCCESS);
    ExpectReleased();
    uint32_t value = 0;
    size_t size = 4;
    EXPECT_NE(cti.GCReadPort(remote, 0x0938, &value, &size), GC_ERR_SUCCESS)
        << "the remote port went with its device";
}

TEST_F(Closing, SystemCloseTakesEverything) {
    EXPECT_EQ(cti.TLClose(system), GC_ERR_SUCCESS);
    ExpectReleased();
}

TEST_F(Closing, LibraryCloseTakesEverything) {
    EXPECT_EQ(cti.GCCloseLib(), GC_ERR_SUCCESS);
    ExpectReleased();
}

TEST_F(Closing, OpenAndCloseWhileEventsArrive) {
    EVENT_HANDLE events = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_REMOTE_DEVICE, &events), GC_ERR_SUCCESS);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        GevSim::EventMessage message;
        message.eventId = 0x9000;
        message.ackRequired = false;
        for (int i = 0; i < 2000 && !stop; ++i) {
            camera->SendEvent(message);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const std::string id = DeviceID(0);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
        device = Open(id);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_REMOTE_DEVICE, &events), GC_ERR_SUCCESS);
        std::vector<uint8_t> record(1024);
        size_t size = record.size();
        cti.EventGetData(events, record.data(), &size, 100);
    }
    stop = true;
    sender.join();
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    ExpectReleased();
}
