// VantorLib against a GigE Vision camera that is not ours: Aravis's fake
// camera (arv-fake-gv-camera-0.8) in the first camera namespace.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "ChildProcess.h"
#include "Netns.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;

namespace {

constexpr const char* kFakeCamera = "arv-fake-gv-camera-0.8";
constexpr const char* kCameraAddress = "169.254.10.2";

std::string Text(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

class AravisCamera : public ::testing::Test {
protected:
    void SetUp() override {
        std::string ns = TestNetns::CameraNamespace(0);
        ASSERT_FALSE(ns.empty()) << "run the test through tests/netns/netns-run --cameras 2";
        if (!TestProcess::OnPath(kFakeCamera)) GTEST_SKIP() << kFakeCamera << " is not installed";
        m_camera = std::make_unique<TestProcess::ChildProcess>(std::vector<std::string>{
            "ip", "netns", "exec", ns, kFakeCamera, "-i", kCameraAddress, "-s", "GV42"});
        ASSERT_TRUE(m_camera->started());
        m_list = std::make_unique<GevDeviceList>();
        // The camera needs a moment to bind; look for it a bounded number of times.
        for (int attempt = 0; attempt < 10 && Find() == nullptr; ++attempt)
            GEVDiscoverDevices(m_list.get(), nullptr, 300, false, 0);
        ASSERT_NE(Find(), nullptr) << "Aravis's camera was not discovered";
    }
    void TearDown() override { GEVClose(1); }

    const GevDiscoveredDevice* Find() {
        for (int i = 0; i < m_list->count; ++i)
            if (m_list->devices[i].cameraAddress == Ip(kCameraAddress)) return &m_list->devices[i];
        return nullptr;
    }

    std::unique_ptr<TestProcess::ChildProcess> m_camera;
    std::unique_ptr<GevDeviceList> m_list;
};

}  // namespace

TEST_F(AravisCamera, IsDiscoveredWithItsIdentityAndFree) {
    const GevDiscoveredDevice& device = *Find();
    EXPECT_EQ(Text(device.manufacturer, 32), "Aravis");
    EXPECT_EQ(Text(device.model, 32), "Fake");
    EXPECT_EQ(Text(device.serialNumber, 16), "GV42");
    EXPECT_EQ(Text(device.adapterName, sizeof device.adapterName), "gvh0");
    EXPECT_EQ(device.accessStatus, kAccessFree);
    // Aravis's own client sees the same camera.
    std::string listed;
    ASSERT_TRUE(TestProcess::Capture("timeout 10 arv-tool-0.8 2>/dev/null", &listed));
    EXPECT_NE(listed.find("Aravis-Fake-GV42 (169.254.10.2)"), std::string::npos) << listed;
}

TEST_F(AravisCamera, OpensWithControlAndServesItsXmlThroughTheFirstUrl) {
    // Aravis's tool reads the description first: it holds the camera while it runs.
    std::string expected;
    bool haveTool = TestProcess::OnPath("arv-tool-0.8") &&
                    TestProcess::Capture(
                        "timeout 10 arv-tool-0.8 -a 169.254.10.2 genicam 2>/dev/null", &expected);

    const GevDiscoveredDevice& device = *Find();
    GevOpenParams params{};
    params.cameraAddress = device.cameraAddress;
    params.hostAddress = device.adapterAddress;
    params.subnetMask = device.adapterMask;
    std::strcpy(params.adapterName, device.adapterName);
    ASSERT_EQ(GEVOpenDevice(1, &params, &LogCapture::Callback, 0, kAccessModeControl), kGevOk);

    uint32_t privilege = 0;
    ASSERT_EQ(GEVReadRegister(1, 0x0A00, 1, &privilege), kGevOk);
    EXPECT_EQ(privilege & 3u, 2u);
    uint32_t heartbeatTimeout = 0;
    ASSERT_EQ(GEVReadRegister(1, 0x0938, 1, &heartbeatTimeout), kGevOk);
    EXPECT_GT(heartbeatTimeout, 0u);

    char url[512] = {};
    ASSERT_EQ(GEVReadMemory(1, 0x0200, sizeof url, url), kGevOk);
    url[sizeof url - 1] = '\0';
    std::string first(url);
    ASSERT_EQ(first.rfind("Local:", 0), 0u) << first;
    size_t lengthAt = first.rfind(';');
    size_t addressAt = first.rfind(';', lengthAt - 1);
    uint32_t address =
        std::stoul(first.substr(addressAt + 1, lengthAt - addressAt - 1), nullptr, 16);
    uint32_t length = std::stoul(first.substr(lengthAt + 1), nullptr, 16);
    ASSERT_GT(length, 1000u);
    std::vector<char> xml((length + 3) & ~3u);
    ASSERT_EQ(GEVReadMemory(1, address, length, xml.data()), kGevOk);
    std::string document(xml.data(), strnlen(xml.data(), length));
    EXPECT_NE(document.find("<RegisterDescription"), std::string::npos);

    if (!haveTool) GTEST_SKIP() << "arv-tool-0.8 is not installed: XML not compared";
    // The tool ends its output with a line feed of its own.
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(expected.back(), '\n');
    expected.pop_back();
    EXPECT_EQ(document.size(), expected.size());
    EXPECT_TRUE(document == expected) << "the description differs from what arv-tool-0.8 prints";
}

namespace {

// Aravis's camera with `extra` options, opened with control and streaming.
class AravisStream : public ::testing::Test {
protected:
    void Launch(std::vector<std::string> extra) {
        std::string ns = TestNetns::CameraNamespace(0);
        ASSERT_FALSE(ns.empty());
        if (!TestProcess::OnPath(kFakeCamera)) GTEST_SKIP() << kFakeCamera << " is not installed";
        std::vector<std::string> command{"ip",        "netns", "exec",        ns,
                                         kFakeCamera, "-i",    kCameraAddress};
        command.insert(command.end(), extra.begin(), extra.end());
        camera = std::make_unique<TestProcess::ChildProcess>(command);
        ASSERT_TRUE(camera->started());
        GevOpenParams params{};
        params.cameraAddress = Ip(kCameraAddress);
        params.hostAddress = Ip("169.254.10.1");
        params.subnetMask = Ip("255.255.255.0");
        std::strcpy(params.adapterName, "gvh0");
        GevStatus status = kGevTimeout;
        for (int attempt = 0; attempt < 20 && status != kGevOk; ++attempt) {
            status = GEVOpenDevice(1, &params, &LogCapture::Callback, 0, kAccessModeControl);
            if (status != kGevOk) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_EQ(status, kGevOk);
        uint32_t width = 0, height = 0, format = 0;
        ASSERT_EQ(GEVReadRegister(1, 0x100, 1, &width), kGevOk);
        ASSERT_EQ(GEVReadRegister(1, 0x104, 1, &height), kGevOk);
        ASSERT_EQ(GEVReadRegister(1, 0x128, 1, &format), kGevOk);
        payload = width * height * ((format >> 16) & 0xFF) / 8;
        ASSERT_GT(payload, 0u);
        ASSERT_EQ(GEVOpenStreamChannel(1, 0, 0, 0), kGevOk);
        ASSERT_EQ(GEVAcquisitionStartEx(1, 0, payload, 0, 0, 0), kGevOk);
        const uint32_t start = 1;
        ASSERT_EQ(GEVWriteRegister(1, 0x124, 1, &start), kGevOk);  // AcquisitionStart
    }
    void TearDown() override {
        const uint32_t stop = 0;
        GEVWriteRegister(1, 0x124, 1, &stop);
        GEVAcquisitionStop(1);
        GEVClose(1);
    }

    std::unique_ptr<TestProcess::ChildProcess> camera;
    uint32_t payload = 0;
};

}  // namespace

TEST_F(AravisStream, FramesOfAravissCameraArriveComplete) {
    Launch({});
    std::vector<uint8_t> image(payload);
    for (int i = 0; i < 5; ++i) {
        GevImageInfo info{};
        ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk) << "image " << i;
        EXPECT_EQ(info.missingPackets, 0u);
        EXPECT_GT(info.sizeX, 0u);
    }
}

TEST_F(AravisStream, ItsLossesAreReportedIncomplete) {
    Launch({"--gvsp-lost-ratio", "100"});  // per thousand
    std::vector<uint8_t> image(payload);
    int incomplete = 0;
    for (int i = 0; i < 10; ++i) {
        GevImageInfo info{};
        GevStatus status = GEVGetImageBuffer(1, &info, image.data());
        ASSERT_TRUE(status == kGevOk || status == kGevImageIncomplete) << status;
        if (status == kGevImageIncomplete) {
            ++incomplete;
            EXPECT_GT(info.missingPackets, 0u);
        }
    }
    EXPECT_GT(incomplete, 0);
}
