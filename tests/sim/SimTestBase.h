// Fixture of the simulator tests: skips outside netns-run, starts cameras and owns them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GevSimCamera.h"
#include "GvcpTestClient.h"

namespace SimTest {

// GVCP command codes and bootstrap addresses, spelled out here independently.
constexpr uint16_t kDiscovery = 0x0002, kForceIp = 0x0004, kReadReg = 0x0080, kWriteReg = 0x0082,
                   kReadMem = 0x0084, kWriteMem = 0x0086;
constexpr uint32_t kCcp = 0x0A00, kMcp = 0x0B00, kMcda = 0x0B10, kMctt = 0x0B14, kMcrc = 0x0B18,
                   kMcsp = 0x0B1C, kScp0 = 0x0D00, kScda0 = 0x0D18;

class SimTestBase : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_PRIVATE_NETNS(); }

    static GevSim::CameraConfig Config(const std::string& address = "127.0.0.2") {
        GevSim::CameraConfig config;
        config.address = address;
        return config;
    }

    GevSim::Camera& StartCamera(const GevSim::CameraConfig& config) {
        cameras_.push_back(std::make_unique<GevSim::Camera>(config));
        std::string error;
        EXPECT_TRUE(cameras_.back()->Start(&error)) << error;
        return *cameras_.back();
    }

    std::vector<std::unique_ptr<GevSim::Camera>> cameras_;
};

}  // namespace SimTest
