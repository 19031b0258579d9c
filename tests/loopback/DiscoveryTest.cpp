// Discovery over the adapters of the test's namespaces, the access probe and
// FORCEIP, against scripted cameras in the camera namespaces.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "DebugOutput.h"
#include "DiscoveryResponder.h"
#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;

namespace {

std::string Text(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

std::string Dotted(uint32_t address) {
    char text[16];
    return Platform::AddressText(address, text);
}

GevAdapterEntry Adapter(const char* name) {
    GevAdapterList list{};
    EXPECT_EQ(GEVGetAdapterList(&list), kGevOk);
    for (uint32_t i = 0; i < list.count; ++i)
        if (std::strcmp(list.entries[i].adapterName, name) == 0) return list.entries[i];
    ADD_FAILURE() << "no adapter " << name;
    return GevAdapterEntry{};
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        m_cam0 = TestNetns::CameraNamespace(0);
        m_cam1 = TestNetns::CameraNamespace(1);
        ASSERT_FALSE(m_cam0.empty()) << "run the test through tests/netns/netns-run --cameras 2";
        Platform::SetDebugOutputCapture([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_debug.push_back(text);
        });
        m_list = std::make_unique<GevDeviceList>();
    }
    void TearDown() override { Platform::SetDebugOutputCapture(nullptr); }
    std::unique_ptr<DiscoveryResponder> Camera(const std::string& ns, ResponderConfig config) {
        auto camera = std::make_unique<DiscoveryResponder>(ns, std::move(config));
        EXPECT_TRUE(camera->ready());
        return camera;
    }
    size_t DebugCount(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<size_t>(std::count(m_debug.begin(), m_debug.end(), line));
    }

    std::string m_cam0, m_cam1;
    std::unique_ptr<GevDeviceList> m_list;
    std::mutex m_lock;
    std::vector<std::string> m_debug;
};

}  // namespace

TEST_F(Discovery, AdapterListHasEveryIPv4AddressWithLoopback) {
    GevAdapterList list{};
    ASSERT_EQ(GEVGetAdapterList(&list), kGevOk);
    GevAdapterEntry lo = Adapter("lo");
    EXPECT_EQ(Dotted(lo.address), "127.0.0.1");
    EXPECT_EQ(Dotted(lo.mask), "255.0.0.0");
    EXPECT_EQ(Dotted(Adapter("gvh0").address), "169.254.10.1");
    EXPECT_EQ(Dotted(Adapter("gvh1").mask), "255.255.255.0");
}

TEST_F(Discovery, CamerasOnTwoAdaptersComeInOneSortedListWithTheirIdentity) {
    ResponderConfig first;
    first.address = "169.254.10.2";
    first.serial = "SERIAL-ONE";
    ResponderConfig second;
    second.address = "169.254.11.2";
    second.model = std::string(32, 'M');  // fills the field: no terminator
    auto camera0 = Camera(m_cam0, first);
    auto camera1 = Camera(m_cam1, second);

    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(GEVDiscoverDevices(m_list.get(), nullptr, 500, false, 0), kGevOk);
    auto took = std::chrono::steady_clock::now() - start;
    // Each of the three adapters (lo, gvh0, gvh1) is searched for the whole time-out.
    EXPECT_GE(took, std::chrono::milliseconds(1500));

    ASSERT_EQ(m_list->count, 2);
    const GevDiscoveredDevice& a = m_list->devices[0];
    const GevDiscoveredDevice& b = m_list->devices[1];
    EXPECT_EQ(Dotted(a.cameraAddress), "169.254.10.2");
    EXPECT_EQ(Dotted(b.cameraAddress), "169.254.11.2");
    EXPECT_EQ(Dotted(a.adapterAddress), "169.254.10.1");
    EXPECT_EQ(Text(a.adapterName, sizeof a.adapterName), "gvh0");
    EXPECT_EQ(Text(a.manufacturer, 32), "Scripted Inc");
    EXPECT_EQ(Text(a.serialNumber, 16), "SERIAL-ONE");
    EXPECT_EQ(Text(a.userName, 16), "left");
    EXPECT_EQ(Text(b.model, 32), std::string(32, 'M'));
    const uint8_t mac[6] = {0x00, 0x11, 0x1C, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(std::memcmp(a.macHigh, mac, 2), 0);
    EXPECT_EQ(std::memcmp(a.macLow, mac + 2, 4), 0);
    EXPECT_EQ(Dotted(a.subnetMask), "255.255.255.0");
    EXPECT_EQ(a.accessStatus, kAccessFree);
    EXPECT_EQ(camera0->lastDiscoveryFlags(), 0x01);
}

TEST_F(Discovery, DuplicateAcknowledgesAreListedOnce) {
    ResponderConfig config;
    config.address = "169.254.10.2";
    config.copies = 3;
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    ASSERT_EQ(GEVDiscoverOnAdapter(m_list.get(), &adapter, nullptr, 300, false, 0), kGevOk);
    EXPECT_EQ(m_list->count, 1);
}

TEST_F(Discovery, MalformedAcknowledgesAreDroppedAndCounted) {
    // A flood of short acknowledges from a peer that never answers a probe.
    ResponderConfig config;
    config.address = "169.254.10.2";
    config.ackLength = 200;
    config.copies = 20;
    config.probeSilent = true;
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    ASSERT_EQ(GEVDiscoverOnAdapter(m_list.get(), &adapter, nullptr, 300, false, 0), kGevOk);
    EXPECT_EQ(m_list->count, 0);
    EXPECT_EQ(camera->probes(), 0);
    char line[160];
    std::snprintf(line, sizeof line,
                  "[WARNING] -20 malformed discovery acknowledges dropped. Adapter: gvh0, Ip: "
                  "%08X\r\n",
                  adapter.address);
    EXPECT_EQ(DebugCount(line), 1u);
}

TEST_F(Discovery, CamerasOnAnotherSubnetNeedBroadcastAcknowledges) {
    ASSERT_TRUE(TestNetns::Ip(m_cam0, "addr add 10.0.0.9/24 dev gvc0"));
    ASSERT_TRUE(TestNetns::Ip(m_cam0, "addr add 10.0.1.5/24 dev gvc0"));
    ResponderConfig nine;
    nine.address = "10.0.0.9";
    ResponderConfig five;
    five.address = "10.0.1.5";
    five.mac[5] = 0xCD;  // another camera
    auto camera9 = Camera(m_cam0, nine);
    auto camera5 = Camera(m_cam0, five);
    GevAdapterEntry adapter = Adapter("gvh0");

    ASSERT_EQ(GEVDiscoverOnAdapter(m_list.get(), &adapter, nullptr, 300, false, 0), kGevOk);
    EXPECT_EQ(m_list->count, 0);

    ASSERT_EQ(GEVDiscoverOnAdapter(m_list.get(), &adapter, nullptr, 300, true, 0), kGevOk);
    EXPECT_EQ(camera9->lastDiscoveryFlags(), 0x11);
    ASSERT_EQ(m_list->count, 2);
    // The last octet weighs most: 10.0.1.5 before 10.0.0.9.
    EXPECT_EQ(Dotted(m_list->devices[0].cameraAddress), "10.0.1.5");
    EXPECT_EQ(Dotted(m_list->devices[1].cameraAddress), "10.0.0.9");
    EXPECT_EQ(m_list->devices[0].accessStatus, kAccessSubnetMismatch);
    EXPECT_EQ(camera9->probes(), 0) << "no probe across subnets";
}

TEST_F(Discovery, AccessStatusTellsFreeControlledExclusiveAndUnreachable) {
    ResponderConfig config;
    config.address = "169.254.10.2";
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    const uint32_t cameraAddress = Ip("169.254.10.2");
    uint8_t status = 99;
    ASSERT_EQ(GEVGetAccessStatus(adapter.address, adapter.mask, cameraAddress, &status, 200, 0),
              kGevOk);
    EXPECT_EQ(status, kAccessFree);

    struct Case {
        uint32_t privilege;
        uint16_t probeStatus;
        uint8_t expected;
    };
    for (Case c : {Case{2, 0, kAccessControl}, Case{1, 0, kAccessExclusive},
                   Case{0, 0x8006, kAccessExclusive}, Case{0, 0x8001, kAccessProbeFailed}}) {
        camera.reset();
        config.privilege = c.privilege;
        config.probeStatus = c.probeStatus;
        camera = Camera(m_cam0, config);
        ASSERT_EQ(GEVGetAccessStatus(adapter.address, adapter.mask, cameraAddress, &status, 200, 0),
                  kGevOk);
        EXPECT_EQ(status, c.expected) << "privilege " << c.privilege << " status " << c.probeStatus;
    }
}

TEST_F(Discovery, SilentProbeTriesThreeTimesWithDoublingWaits) {
    ResponderConfig config;
    config.address = "169.254.10.2";
    config.probeSilent = true;
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    uint32_t privilege = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GEVProbeAccess(adapter.address, Ip("169.254.10.2"), 0, &privilege, 100), kGevTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    EXPECT_EQ(camera->probes(), 3);
    uint8_t status = 0;
    GEVGetAccessStatus(adapter.address, adapter.mask, Ip("169.254.10.2"), &status, 50, 0);
    EXPECT_EQ(status, kAccessProbeFailed);
}

namespace {
std::mutex g_callbackLock;
std::vector<std::pair<uint32_t, std::string>> g_callbacks;
void DiscoveryCallback(uint32_t percent, const GevDiscoveredDevice* record) {
    std::lock_guard<std::mutex> guard(g_callbackLock);
    g_callbacks.emplace_back(
        percent,
        record ? Text(record->serialNumber, 16) + "/" + std::to_string(record->accessStatus) : "");
}
}  // namespace

TEST_F(Discovery, WithoutAListRecordsGoToTheCallbackUnprobed) {
    ResponderConfig config;
    config.address = "169.254.10.2";
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    ASSERT_EQ(GEVDiscoverOnAdapter(nullptr, &adapter, &DiscoveryCallback, 300, false, 0), kGevOk);
    std::unique_lock<std::mutex> guard(g_callbackLock);
    size_t records = 0;
    uint32_t lastPercent = 0;
    for (const auto& call : g_callbacks) {
        if (!call.second.empty()) {
            ++records;
            EXPECT_EQ(call.second, "SN42/5");
        }
        EXPECT_GE(call.first, lastPercent);
        EXPECT_LE(call.first, 100u);
        lastPercent = call.first;
    }
    EXPECT_EQ(records, 1u);
    EXPECT_GE(g_callbacks.size(), 3u) << "a progress call after every wait";
    EXPECT_GE(lastPercent, 90u);
    EXPECT_EQ(camera->probes(), 0);

    // A second pass measures its own progress from zero again.
    g_callbacks.clear();
    guard.unlock();
    ASSERT_EQ(GEVDiscoverOnAdapter(nullptr, &adapter, &DiscoveryCallback, 300, false, 0), kGevOk);
    guard.lock();
    ASSERT_FALSE(g_callbacks.empty());
    EXPECT_LT(g_callbacks.front().first, 60u);
}

TEST_F(Discovery, ForceIpWithoutAddressSendsOnceAndDoesNotWait) {
    int listener = TestNetns::UdpSocketIn(m_cam0);
    ASSERT_TRUE(TestSockets::Bind(listener, "255.255.255.255", 3956, true));

    const uint8_t mac[6] = {0x00, 0x11, 0x1C, 0x01, 0x02, 0x03};
    GevAdapterEntry adapter = Adapter("gvh0");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GEVForceIP(0, 0, 0, mac, adapter.address), kGevOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    ASSERT_TRUE(TestSockets::Readable(listener, 1000));
    uint8_t command[128];
    ASSERT_EQ(::recv(listener, command, sizeof command, 0), 64);
    EXPECT_EQ(command[0], 0x42);
    EXPECT_EQ(command[1], 0x00);
    EXPECT_EQ(Be16(&command[2]), 0x0004);
    EXPECT_EQ(Be16(&command[4]), 56);
    EXPECT_EQ(std::memcmp(&command[10], mac, 6), 0);
    EXPECT_FALSE(TestSockets::Readable(listener, 200)) << "exactly one datagram";
    ::close(listener);
}

TEST_F(Discovery, ForceIpWaitsForTheAcknowledgeAndRetriesASilentCamera) {
    int listener = TestNetns::UdpSocketIn(m_cam0);
    ASSERT_TRUE(TestSockets::Bind(listener, "255.255.255.255", 3956, true));
    std::atomic<bool> answer{true};
    std::atomic<int> seen{0};
    std::atomic<bool> stop{false};
    std::thread camera([&] {
        while (!stop) {
            if (!TestSockets::Readable(listener, 20)) continue;
            uint8_t command[128];
            sockaddr_in sender{};
            socklen_t length = sizeof sender;
            ssize_t size = ::recvfrom(listener, command, sizeof command, 0,
                                      reinterpret_cast<sockaddr*>(&sender), &length);
            if (size != 64) continue;
            ++seen;
            EXPECT_EQ(Dotted(*reinterpret_cast<uint32_t*>(&command[28])), "169.254.10.7");
            if (!answer) continue;
            Bytes ack = AckHeader(0, 0x0005, 0, Be16(&command[6]));
            ::sendto(listener, ack.data(), ack.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                     sizeof sender);
        }
    });
    const uint8_t mac[6] = {0x00, 0x11, 0x1C, 0x01, 0x02, 0x03};
    GevAdapterEntry adapter = Adapter("gvh0");
    EXPECT_EQ(GEVForceIP(Ip("169.254.10.7"), Ip("255.255.255.0"), 0, mac, adapter.address), kGevOk);
    EXPECT_EQ(seen, 1);

    answer = false;
    EXPECT_EQ(GEVForceIP(Ip("169.254.10.7"), Ip("255.255.255.0"), 0, mac, adapter.address),
              kGevTimeout);
    EXPECT_EQ(seen, 4);
    EXPECT_EQ(DebugCount("[WARNING] -FORCEIP select timed out\r\n"), 3u);
    stop = true;
    camera.join();
    ::close(listener);
}

TEST_F(Discovery, CameraReportingNoMaskIsListedWhenInTheAdaptersSubnet) {
    ResponderConfig config;
    config.address = "169.254.10.2";
    config.mask = "0.0.0.0";
    auto camera = Camera(m_cam0, config);
    GevAdapterEntry adapter = Adapter("gvh0");
    ASSERT_EQ(GEVDiscoverOnAdapter(m_list.get(), &adapter, nullptr, 300, false, 0), kGevOk);
    ASSERT_EQ(m_list->count, 1);
    EXPECT_EQ(m_list->devices[0].accessStatus, kAccessFree);
}
