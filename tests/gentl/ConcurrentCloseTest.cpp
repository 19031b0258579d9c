// A close on one thread while another thread's call runs on the same module,
// or on a module below it: the call finishes or fails with an error code, the
// close takes effect once, and nothing is used after it was freed (the
// sanitizer builds catch that). Bad arguments get their error code too.
#include <atomic>
#include <future>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

// Lets the threads of one race start together.
class StartLine {
public:
    explicit StartLine(int runners) : m_waiting(runners) {}
    void Arrive() {
        m_waiting.fetch_sub(1);
        while (m_waiting.load() > 0) std::this_thread::yield();
    }

private:
    std::atomic<int> m_waiting;
};

bool IsOneOf(GC_ERROR result, std::initializer_list<GC_ERROR> allowed) {
    for (GC_ERROR code : allowed)
        if (result == code) return true;
    return false;
}

class ConcurrentClose : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        camera = &StartCamera("127.0.0.2", "SIM-A");
        ASSERT_EQ(Discover(), 1u);
        id = DeviceID(0);
    }

    // Reads the remote port until a read fails; the failure it ended with.
    GC_ERROR ReadUntilRefused(PORT_HANDLE remote, std::atomic<int>* reads) {
        for (int i = 0; i < 100000; ++i) {
            uint32_t value = 0;
            size_t size = sizeof value;
            const GC_ERROR result = cti.GCReadPort(remote, 0x0938, &value, &size);
            if (result != GC_ERR_SUCCESS) return result;
            reads->fetch_add(1);
        }
        return GC_ERR_SUCCESS;
    }

    GevSim::Camera* camera = nullptr;
    std::string id;
};

}  // namespace

TEST_F(ConcurrentClose, DiscoveryRunningWhileItsInterfaceClosesEndsSafely) {
    for (int round = 0; round < 3; ++round) {
        auto discovery = std::async(std::launch::async, [&] {
            bool8_t changed = 0;
            return cti.IFUpdateDeviceList(iface, &changed, 400);
        });
        // Usually inside the discovery's wait; either order must be safe.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(cti.IFClose(iface), GC_ERR_SUCCESS);
        EXPECT_TRUE(IsOneOf(discovery.get(), {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE}));
        uint32_t count = 0;
        EXPECT_EQ(cti.IFGetNumDevices(iface, &count), GC_ERR_INVALID_HANDLE);
        ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS);
    }
}

TEST_F(ConcurrentClose, AHandleClosedTwiceAtOnceClosesOnce) {
    for (int round = 0; round < 20; ++round) {
        StartLine line(2);
        auto close = [&] {
            line.Arrive();
            return cti.IFClose(iface);
        };
        auto first = std::async(std::launch::async, close);
        auto second = std::async(std::launch::async, close);
        const GC_ERROR a = first.get();
        const GC_ERROR b = second.get();
        EXPECT_TRUE((a == GC_ERR_SUCCESS && b == GC_ERR_INVALID_HANDLE) ||
                    (a == GC_ERR_INVALID_HANDLE && b == GC_ERR_SUCCESS))
            << a << " " << b;
        ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS);
    }
}

TEST_F(ConcurrentClose, PortReadsRacingTheirDevicesCloseFinishAndTheCameraIsReleased) {
    DEV_HANDLE device = Open(id, DEVICE_ACCESS_READONLY);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    std::atomic<int> reads{0};
    std::vector<std::future<GC_ERROR>> readers;
    for (int i = 0; i < 3; ++i)
        readers.push_back(
            std::async(std::launch::async, [&] { return ReadUntilRefused(remote, &reads); }));
    ASSERT_TRUE(WaitFor([&] { return reads.load() >= 30; }));
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    for (auto& reader : readers) EXPECT_EQ(reader.get(), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.DevClose(device), GC_ERR_INVALID_HANDLE);
    // Opened again at once: the first connection is gone.
    device = Open(id, DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(camera->Register(0x0A00), 2u);
}

TEST_F(ConcurrentClose, ADeviceInUseOutlivesTheCloseOfItsInterfaceAndSystem) {
    DEV_HANDLE device = Open(id);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    std::atomic<int> reads{0};
    auto reader = std::async(std::launch::async, [&] { return ReadUntilRefused(remote, &reads); });
    auto infos = std::async(std::launch::async, [&]() -> GC_ERROR {
        for (int i = 0; i < 100000; ++i) {
            char text[256] = {};
            size_t size = sizeof text;
            INFO_DATATYPE type = 0;
            const GC_ERROR result = cti.DevGetInfo(device, DEVICE_INFO_ID, &type, text, &size);
            if (result != GC_ERR_SUCCESS) return result;
        }
        return GC_ERR_SUCCESS;
    });
    ASSERT_TRUE(WaitFor([&] { return reads.load() >= 30; }));
    EXPECT_EQ(cti.IFClose(iface), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.TLClose(system), GC_ERR_SUCCESS);
    EXPECT_TRUE(IsOneOf(reader.get(), {GC_ERR_INVALID_HANDLE, GC_ERR_NOT_INITIALIZED}));
    EXPECT_TRUE(IsOneOf(infos.get(), {GC_ERR_INVALID_HANDLE, GC_ERR_NOT_INITIALIZED}));
    EXPECT_TRUE(WaitFor([&] { return camera->Register(0x0A00) == 0; }))
        << "the camera's privilege went with the last call";
}

TEST_F(ConcurrentClose, StartsStopsAndTheCloseOfOneStreamRunOneAtATime) {
    DEV_HANDLE device = Open(id);
    ASSERT_NE(device, nullptr);
    for (int round = 0; round < 4; ++round) {
        DS_HANDLE stream = nullptr;
        ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
        for (int i = 0; i < 3; ++i) {
            BUFFER_HANDLE buffer = nullptr;
            ASSERT_EQ(cti.DSAllocAndAnnounceBuffer(stream, 640 * 480, nullptr, &buffer),
                      GC_ERR_SUCCESS);
            ASSERT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
        }
        StartLine starts(2);
        auto start = [&] {
            starts.Arrive();
            return cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
        };
        auto first = std::async(std::launch::async, start);
        auto second = std::async(std::launch::async, start);
        const GC_ERROR a = first.get();
        const GC_ERROR b = second.get();
        EXPECT_TRUE((a == GC_ERR_SUCCESS && b == GC_ERR_RESOURCE_IN_USE) ||
                    (a == GC_ERR_RESOURCE_IN_USE && b == GC_ERR_SUCCESS))
            << a << " " << b;

        // A stop and the close together; then the close of a closed stream.
        StartLine ends(2);
        auto stop = std::async(std::launch::async, [&] {
            ends.Arrive();
            return cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT);
        });
        auto close = std::async(std::launch::async, [&] {
            ends.Arrive();
            return cti.DSClose(stream);
        });
        EXPECT_TRUE(
            IsOneOf(stop.get(), {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE, GC_ERR_RESOURCE_IN_USE}));
        EXPECT_EQ(close.get(), GC_ERR_SUCCESS);
        EXPECT_EQ(cti.DSClose(stream), GC_ERR_INVALID_HANDLE);
    }
}

TEST_F(ConcurrentClose, AWaitForANewBufferEndsWhenItsStreamCloses) {
    DEV_HANDLE device = Open(id);
    ASSERT_NE(device, nullptr);
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
    EVENT_HANDLE event = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS);
    auto waiter = std::async(std::launch::async, [&] {
        uint8_t data[16] = {};
        size_t size = sizeof data;
        return cti.EventGetData(event, data, &size, GENTL_INFINITE);
    });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(IsOneOf(waiter.get(), {GC_ERR_ABORT, GC_ERR_INVALID_HANDLE}));
}

TEST_F(ConcurrentClose, TwoSystemOpensAtOnceOpenOneModule) {
    ASSERT_EQ(cti.GCCloseLib(), GC_ERR_SUCCESS);
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
        StartLine line(2);
        TL_HANDLE handles[2] = {};
        auto open = [&](int i) {
            line.Arrive();
            return cti.TLOpen(&handles[i]);
        };
        auto first = std::async(std::launch::async, open, 0);
        auto second = std::async(std::launch::async, open, 1);
        const GC_ERROR a = first.get();
        const GC_ERROR b = second.get();
        EXPECT_TRUE((a == GC_ERR_SUCCESS && b == GC_ERR_RESOURCE_IN_USE) ||
                    (a == GC_ERR_RESOURCE_IN_USE && b == GC_ERR_SUCCESS))
            << a << " " << b;
        TL_HANDLE opened = a == GC_ERR_SUCCESS ? handles[0] : handles[1];
        EXPECT_EQ(cti.TLClose(opened), GC_ERR_SUCCESS);
        EXPECT_EQ(cti.TLClose(opened), GC_ERR_INVALID_HANDLE);
        ASSERT_EQ(cti.GCCloseLib(), GC_ERR_SUCCESS);
    }
    ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
}

TEST_F(ConcurrentClose, BadArgumentsOnADeviceGetTheirErrorCodes) {
    DEV_HANDLE device = Open(id);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    size_t size = 4;
    EXPECT_EQ(cti.GCReadPort(remote, 0x0938, nullptr, &size), GC_ERR_INVALID_PARAMETER);
    size = 64;
    EXPECT_EQ(cti.GCReadPort(remote, 0x0000, nullptr, &size), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(cti.GCWritePort(remote, 0x0938, nullptr, &size), GC_ERR_INVALID_PARAMETER);
    uint32_t value = 0;
    EXPECT_EQ(cti.GCReadPort(remote, 0x0938, &value, nullptr), GC_ERR_INVALID_PARAMETER);
    PORT_REGISTER_STACK_ENTRY entry{0x0938, nullptr, 4};
    size_t entries = 1;
    EXPECT_EQ(cti.GCReadPortStacked(remote, &entry, &entries), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(entries, 0u);
    int garbage[16] = {};
    size = 4;
    EXPECT_EQ(cti.GCReadPort(garbage, 0x0938, &value, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.DevClose(garbage), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.DSClose(garbage), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.IFClose(garbage), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(cti.EventKill(garbage), GC_ERR_INVALID_HANDLE);
    DS_HANDLE stream = nullptr;
    EXPECT_EQ(cti.DevOpenDataStream(device, "DS7", &stream), GC_ERR_INVALID_ID);
    EXPECT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
}
