// VantorLib against the project's camera simulator: several cameras, the
// privilege held by another client, heartbeats that keep it, a reboot, the
// simulator's fault switches, FORCEIP and event messages.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "DeviceTable.h"
#include "GevSimCamera.h"
#include "Netns.h"
#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;
using TestSockets::WaitFor;
using namespace std::chrono_literals;

namespace {

std::string Text(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

std::mutex g_eventLock;
std::vector<GevMessageEvent> g_events;
std::vector<Bytes> g_eventData;

void OnEvent(uint8_t, const GevMessageEvent* event) {
    std::lock_guard<std::mutex> guard(g_eventLock);
    g_events.push_back(*event);
    g_eventData.emplace_back(event->data, event->data + event->dataLength);
}

size_t EventCount() {
    std::lock_guard<std::mutex> guard(g_eventLock);
    return g_events.size();
}

// A second client of a camera: a plain socket that takes the privilege.
class OtherClient {
public:
    explicit OtherClient(const char* camera) : m_camera(Ip(camera)) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    }
    ~OtherClient() { ::close(m_socket); }
    bool WriteRegister(uint32_t address, uint32_t value) {
        Bytes command{0x42, 0x01, 0x00, 0x82, 0x00, 0x08};
        Put16(command, ++m_id);
        Put32(command, address);
        Put32(command, value);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(3956);
        target.sin_addr.s_addr = m_camera;
        ::sendto(m_socket, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&target),
                 sizeof target);
        pollfd entry{m_socket, POLLIN, 0};
        uint8_t ack[16];
        return ::poll(&entry, 1, 1000) == 1 && ::recv(m_socket, ack, sizeof ack, 0) >= 8 &&
               Be16(ack) == 0;
    }

private:
    uint32_t m_camera;
    int m_socket;
    uint16_t m_id = 0;
};

class Simulator : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)
            GTEST_SKIP() << "run the test through tests/netns/netns-run";
        {
            std::lock_guard<std::mutex> guard(g_eventLock);
            g_events.clear();
            g_eventData.clear();
        }
        m_list = std::make_unique<GevDeviceList>();
    }
    void TearDown() override { GEVClose(1); }

    GevSim::Camera& Start(GevSim::CameraConfig config) {
        m_cameras.push_back(std::make_unique<GevSim::Camera>(std::move(config)));
        std::string error;
        EXPECT_TRUE(m_cameras.back()->Start(&error)) << error;
        return *m_cameras.back();
    }
    GevStatus Open(const char* camera, uint8_t mode) {
        GevOpenParams params = OpenParams(camera);
        return GEVOpenDevice(1, &params, &LogCapture::Callback, 0, mode);
    }
    const GevDiscoveredDevice* Listed(const char* address) {
        for (int i = 0; i < m_list->count; ++i)
            if (m_list->devices[i].cameraAddress == Ip(address)) return &m_list->devices[i];
        return nullptr;
    }

    std::vector<std::unique_ptr<GevSim::Camera>> m_cameras;
    std::unique_ptr<GevDeviceList> m_list;
};

GevSim::CameraConfig Config(const char* address, const char* serial) {
    GevSim::CameraConfig config;
    config.address = address;
    config.serial = serial;
    // Cameras are told apart by MAC: each gets its own, from its address.
    config.mac[5] = static_cast<uint8_t>(Ip(address) >> 24);
    return config;
}

}  // namespace

TEST_F(Simulator, SeveralCamerasOnLoopbackAndOnTheCameraAdaptersAreFound) {
    Start(Config("127.0.0.2", "LOOP-2"));
    Start(Config("127.0.0.3", "LOOP-3"));
    GevSim::CameraConfig far = Config("169.254.10.2", "FAR-0");
    far.netns = TestNetns::CameraNamespace(0);
    far.mac = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x42};
    Start(far);
    ASSERT_EQ(GEVDiscoverDevices(m_list.get(), nullptr, 300, false, 0), kGevOk);
    ASSERT_EQ(m_list->count, 3);
    EXPECT_EQ(Text(m_list->devices[0].serialNumber, 16), "LOOP-2");
    EXPECT_EQ(Text(m_list->devices[1].serialNumber, 16), "FAR-0");
    EXPECT_EQ(Text(m_list->devices[2].serialNumber, 16), "LOOP-3");
    const GevDiscoveredDevice* device = Listed("169.254.10.2");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Text(device->manufacturer, 32), "Tarvane");
    EXPECT_EQ(Text(device->model, 32), "GEVSIM-1");
    EXPECT_EQ(device->macLow[3], 0x42);
    EXPECT_EQ(Text(device->adapterName, sizeof device->adapterName), "gvh0");
    EXPECT_EQ(device->accessStatus, kAccessFree);
}

TEST_F(Simulator, AccessStatusSeesAnotherClientsPrivilege) {
    Start(Config("127.0.0.2", "CTRL"));
    Start(Config("127.0.0.3", "EXCL"));
    OtherClient control("127.0.0.2");
    OtherClient exclusive("127.0.0.3");
    ASSERT_TRUE(control.WriteRegister(0x0A00, 2));
    ASSERT_TRUE(exclusive.WriteRegister(0x0A00, 1));
    ASSERT_EQ(GEVDiscoverDevices(m_list.get(), nullptr, 300, false, 0), kGevOk);
    ASSERT_NE(Listed("127.0.0.2"), nullptr);
    ASSERT_NE(Listed("127.0.0.3"), nullptr);
    EXPECT_EQ(Listed("127.0.0.2")->accessStatus, kAccessControl);
    EXPECT_EQ(Listed("127.0.0.3")->accessStatus, kAccessExclusive);

    EXPECT_EQ(Open("127.0.0.3", kAccessModeControl), kGevOpenedByOther);
    EXPECT_EQ(Open("127.0.0.2", kAccessModeControl), kGevStatusAccessDenied);
    EXPECT_EQ(Open("127.0.0.2", kAccessModeOpen), kGevOk) << "read-only needs no privilege";
}

TEST_F(Simulator, OpenReadsTheXmlThroughTheFirstUrlAndHeartbeatsKeepThePrivilege) {
    GevSim::CameraConfig config = Config("127.0.0.2", "HB");
    config.heartbeatTimeoutMs = 600;
    GevSim::Camera& camera = Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeExclusive), kGevOk);
    EXPECT_EQ(SlotOf(1)->record.heartbeatPeriod.load(), 200u);

    char url[512] = {};
    ASSERT_EQ(GEVReadMemory(1, 0x0200, sizeof url, url), kGevOk);
    std::string first(url, strnlen(url, sizeof url));
    size_t lengthAt = first.rfind(';');
    size_t addressAt = first.rfind(';', lengthAt - 1);
    uint32_t address =
        std::stoul(first.substr(addressAt + 1, lengthAt - addressAt - 1), nullptr, 16);
    uint32_t length = std::stoul(first.substr(lengthAt + 1), nullptr, 16);
    std::vector<char> xml((length + 3) & ~3u);
    ASSERT_EQ(GEVReadMemory(1, address, length, xml.data()), kGevOk);
    EXPECT_TRUE(std::string(xml.data(), length) == GevSim::Camera::Xml());

    // Three heartbeat timeouts later the privilege is still ours.
    std::this_thread::sleep_for(1800ms);
    EXPECT_EQ(camera.Register(0x0A00) & 3u, 1u);
    EXPECT_EQ(SlotOf(1)->record.connectionState.load(), kConnected);
}

TEST_F(Simulator, RebootedCameraGetsPrivilegeAndMessageChannelBack) {
    GevSim::CameraConfig config = Config("127.0.0.2", "RB");
    config.heartbeatTimeoutMs = 600;
    GevSim::Camera& camera = Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    const uint32_t port = camera.Register(0x0B00);
    ASSERT_NE(port, 0u);
    camera.Reboot();
    EXPECT_EQ(camera.Register(0x0A00), 0u);
    ASSERT_TRUE(WaitFor([&] { return camera.Register(0x0A00) == 2; }));
    EXPECT_TRUE(WaitFor([&] { return camera.Register(0x0B00) == port; }));
    EXPECT_TRUE(LogCapture::Contains("[WARNING] -CCP access lost. Access mode reset."));
}

TEST_F(Simulator, UnpluggedCameraFailsAndCanBeOpenedAgainWhenBack) {
    GevSim::CameraConfig config = Config("127.0.0.2", "UP");
    config.heartbeatTimeoutMs = 600;
    GevSim::Camera& camera = Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    camera.faults().SetSilent(true);
    ASSERT_TRUE(WaitFor([] { return SlotOf(1)->record.connectionState == kConnectionFailed; }, 8s));
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(1, 0x0938, 1, &value), kGevStatusAccessDenied);
    camera.faults().SetSilent(false);
    // The camera let the privilege go when the heartbeats stopped.
    ASSERT_TRUE(WaitFor([&] { return camera.Register(0x0A00) == 0; }));
    EXPECT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    EXPECT_EQ(camera.Register(0x0A00), 2u);
}

TEST_F(Simulator, FaultSwitchesAreRiddenOut) {
    // The faults are aimed at the test's register: the heartbeat reads another one
    // whenever its thread gets to it, and must not take them.
    constexpr uint32_t kAimed = 0x0938;
    GevSim::CameraConfig config = Config("127.0.0.2", "FLT");
    config.heartbeatTimeoutMs = 60000;
    GevSim::Camera& camera = Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    uint32_t value = 0;
    camera.faults().DropAcks(2, kAimed);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevOk);
    EXPECT_EQ(value, 60000u);
    camera.faults().SendPendingAcks(1, 400ms, kAimed);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevOk);
    camera.faults().SendStaleAcks(1, std::nullopt, kAimed);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevOk);
    camera.faults().FailCommands(1, 0x8003, kAimed);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevStatusInvalidAddress);
    camera.faults().DropAcks(3, kAimed);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevTimeout);
    camera.faults().SetAckDelay(100ms);
    EXPECT_EQ(GEVReadRegister(1, kAimed, 1, &value), kGevOk);
    camera.faults().Clear();
    std::vector<uint8_t> memory(1000);
    EXPECT_EQ(GEVReadMemory(1, 0x00100000, 1000, memory.data()), kGevOk);
}

TEST_F(Simulator, WriteMemoryIsRefusedWithoutTheCapability) {
    GevSim::CameraConfig config = Config("127.0.0.2", "NOWM");
    config.gvcpCapability &= ~GevSim::Capability::kWriteMem;
    Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    char name[16] = "renamed";
    EXPECT_EQ(GEVWriteMemory(1, 0x00E8, sizeof name, name), kGevNotSupported);
}

TEST_F(Simulator, ForceIpMovesALoopbackCamera) {
    GevSim::CameraConfig config = Config("127.0.0.2", "FIP");
    GevSim::Camera& camera = Start(config);
    ASSERT_EQ(GEVForceIP(Ip("127.0.0.9"), Ip("255.0.0.0"), 0, config.mac.data(), Ip("127.0.0.1")),
              kGevOk);
    EXPECT_EQ(camera.Address(), "127.0.0.9");
    ASSERT_EQ(GEVDiscoverDevices(m_list.get(), nullptr, 300, false, 0), kGevOk);
    EXPECT_NE(Listed("127.0.0.9"), nullptr);
    EXPECT_EQ(Listed("127.0.0.2"), nullptr);
}

TEST_F(Simulator, EventsReachTheHandlerAcknowledgedOrNot) {
    GevSim::Camera& camera = Start(Config("127.0.0.2", "EVT"));
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    ASSERT_EQ(GEVSetMessageHandler(1, &OnEvent), kGevOk);

    GevSim::EventMessage exposure;
    exposure.eventId = 0x0003;
    exposure.blockId = 0x1234;
    exposure.timestamp = 555;
    EXPECT_TRUE(camera.SendEvent(exposure)) << "acknowledged by the library";

    GevSim::EventMessage custom;
    custom.eventId = 0x9005;
    custom.extendedIds = true;
    custom.blockId = 0x0000000500000001ull;
    custom.data = {1, 2, 3, 4, 5, 6, 7, 8};
    custom.ackRequired = false;
    EXPECT_TRUE(camera.SendEvent(custom));
    ASSERT_TRUE(WaitFor([] { return EventCount() == 2; }));

    std::lock_guard<std::mutex> guard(g_eventLock);
    EXPECT_EQ(g_events[0].eventId, 3);
    EXPECT_EQ(g_events[0].blockId, 0x1234u);
    EXPECT_EQ(g_events[0].timestamp, 555u);
    EXPECT_EQ(g_events[1].eventId, 0x9005);
    EXPECT_EQ(g_events[1].blockId, 0x0000000500000001ull);
    EXPECT_EQ(g_eventData[1], (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(Simulator, CameraWithoutEventCommandsHasNoMessageChannel) {
    GevSim::CameraConfig config = Config("127.0.0.2", "NOEV");
    config.gvcpCapability &= ~(GevSim::Capability::kEvent | GevSim::Capability::kEventData);
    Start(config);
    ASSERT_EQ(Open("127.0.0.2", kAccessModeControl), kGevOk);
    EXPECT_EQ(GEVSetMessageHandler(1, &OnEvent), kGevNotSupported);
    EXPECT_TRUE(LogCapture::Contains("EVENT or EVENTDATA commands not enabled"));
}
