// The producer with a camera that is not ours: Aravis's fake camera in the
// first camera namespace, found, opened and read through GenTL.
#include <memory>

#include "ChildProcess.h"
#include "GenTLFixture.h"
#include "Netns.h"

using namespace GenTLTest;

namespace {

constexpr const char* kFakeCamera = "arv-fake-gv-camera-0.8";

class AravisCamera : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        const std::string ns = TestNetns::CameraNamespace(0);
        ASSERT_FALSE(ns.empty());
        if (!TestProcess::OnPath(kFakeCamera)) GTEST_SKIP() << kFakeCamera << " is not installed";
        fake = std::make_unique<TestProcess::ChildProcess>(std::vector<std::string>{
            "ip", "netns", "exec", ns, kFakeCamera, "-i", "169.254.10.2", "-s", "GV42"});
        ASSERT_TRUE(fake->started());
        // The camera needs a moment to bind; look for it a bounded number of times.
        for (int attempt = 0; attempt < 10 && id.empty(); ++attempt) {
            uint32_t count = Discover();
            for (uint32_t i = 0; i < count; ++i)
                if (DeviceText(DeviceID(i), DEVICE_INFO_SERIAL_NUMBER) == "GV42") id = DeviceID(i);
        }
        ASSERT_FALSE(id.empty()) << "Aravis's camera was not discovered";
    }

    std::unique_ptr<TestProcess::ChildProcess> fake;
    std::string id;
};

}  // namespace

TEST_F(AravisCamera, IsListedWithItsIdentity) {
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_VENDOR), "Aravis");
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_MODEL), "Fake");
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_DISPLAYNAME), "Aravis:Fake:GV42@169.254.10.2");
    EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_READWRITE);
}

TEST_F(AravisCamera, ServesItsDescriptionAndFeaturesThroughTheRemotePort) {
    std::string expected;
    const bool haveTool =
        TestProcess::OnPath("arv-tool-0.8") &&
        TestProcess::Capture("timeout 10 arv-tool-0.8 -a 169.254.10.2 genicam 2>/dev/null", &expected);

    DEV_HANDLE device = Open(id, DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    auto port = GenApiBridge::GenApiPort::FromPort(remote, Ports());
    EXPECT_GT(port.GetInteger("Width"), 0);
    port.SetInteger("Width", 256);
    EXPECT_EQ(port.GetInteger("Width"), 256);
    EXPECT_EQ(port.GetString("DeviceVendorName"), "Aravis");

    if (!haveTool) GTEST_SKIP() << "arv-tool-0.8 is not installed: description not compared";
    ASSERT_FALSE(expected.empty());
    expected.pop_back();  // the tool's own line end
    EXPECT_TRUE(port.Xml() == expected) << "the description differs from what arv-tool-0.8 prints";
}
