// Control channel privilege: exclusive and control access seen by a second host,
// release by the primary, heartbeat timeout, and reboot.
#include <thread>

#include "SimTestBase.h"

namespace SimTest {
namespace {

constexpr uint32_t kWidth = 0x00010000;

class PrivilegeTest : public SimTestBase {
protected:
    void SetUp() override {
        SimTestBase::SetUp();
        if (IsSkipped()) return;
        auto config = Config();
        config.heartbeatTimeoutMs = 500;
        camera_ = &StartCamera(config);
    }
    GevSim::Camera* camera_ = nullptr;
    GvcpTestClient primary_;
    GvcpTestClient other_;
};

TEST_F(PrivilegeTest, ExclusiveAccessHidesTheDeviceFromOtherHosts) {
    ASSERT_EQ(primary_.WriteReg(kCcp, 0x1), 0);
    uint32_t value = 0;
    EXPECT_EQ(primary_.ReadReg(kCcp, &value), 0);
    EXPECT_EQ(value, 0x1u);
    EXPECT_EQ(other_.ReadReg(kCcp), 0x8006);
    EXPECT_EQ(other_.ReadReg(0x0000), 0x8006);
    EXPECT_EQ(other_.ReadMem(0x0048, 32, nullptr), 0x8006);
    EXPECT_EQ(other_.WriteReg(kWidth, 320), 0x8006);
    EXPECT_EQ(other_.WriteReg(kCcp, 0x2), 0x8006);
    EXPECT_TRUE(other_.Transact(kDiscovery, {}));  // discovery is always answered
    ASSERT_EQ(primary_.WriteReg(kCcp, 0), 0);
    EXPECT_EQ(other_.ReadReg(kCcp, &value), 0);
    EXPECT_EQ(value, 0u);
}

TEST_F(PrivilegeTest, ControlAccessLetsOtherHostsReadButNotWrite) {
    ASSERT_EQ(primary_.WriteReg(kCcp, 0x2), 0);
    uint32_t value = 0;
    EXPECT_EQ(other_.ReadReg(kCcp, &value), 0);
    EXPECT_EQ(value, 0x2u);
    EXPECT_EQ(other_.WriteReg(kWidth, 320), 0x8006);
    EXPECT_EQ(other_.WriteMem(0x00E8, Bytes(4, 'x')), 0x8006);
    EXPECT_EQ(other_.WriteReg(kCcp, 0), 0x8006);  // only the primary releases
    EXPECT_EQ(primary_.WriteReg(kWidth, 320), 0);
    EXPECT_EQ(primary_.WriteReg(kCcp, 0x1), 0);  // the primary may change its access
}

TEST_F(PrivilegeTest, SilentPrimaryLosesThePrivilegeAfterTheHeartbeatTimeout) {
    ASSERT_EQ(primary_.WriteReg(kCcp, 0x2), 0);
    ASSERT_EQ(primary_.WriteReg(kMcp, primary_.Port()), 0);
    ASSERT_EQ(primary_.WriteReg(kMcda, 0x7F000001), 0);
    // Commands keep it alive past the timeout...
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_EQ(primary_.ReadReg(0x0000), 0);
    }
    EXPECT_EQ(camera_->Register(kCcp), 0x2u);
    // ...silence loses it, and the channels close.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(camera_->Register(kCcp), 0u);
    EXPECT_EQ(camera_->Register(kMcp), 0u);
    EXPECT_EQ(other_.WriteReg(kCcp, 0x2), 0);
}

TEST_F(PrivilegeTest, RebootReleasesThePrivilegeAndClosesChannels) {
    ASSERT_EQ(primary_.WriteReg(kCcp, 0x1), 0);
    ASSERT_EQ(primary_.WriteReg(kScp0, 50000), 0);
    ASSERT_EQ(primary_.WriteReg(kScda0, 0x7F000001), 0);
    ASSERT_EQ(primary_.WriteMem(0x00E8, {'k', 'e', 'p', 't'}), 0);
    camera_->Reboot();
    EXPECT_EQ(camera_->Register(kCcp), 0u);
    EXPECT_EQ(camera_->Register(kScp0), 0u);
    EXPECT_EQ(camera_->Register(kScda0), 0u);
    EXPECT_EQ(camera_->Register(0x00E8), 0x6B657074u);  // "kept"
    EXPECT_EQ(other_.WriteReg(kCcp, 0x2), 0);
}

}  // namespace
}  // namespace SimTest
