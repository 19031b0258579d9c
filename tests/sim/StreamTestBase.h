// Fixture of the GVSP tests: a camera at 127.0.0.2 whose stream channel 0 a raw GVCP
// host at 127.0.0.1 points at its own GVSP receiver, and acquisition helpers.
#pragma once

#include <cstring>

#include "GvspTestReceiver.h"
#include "SimTestBase.h"

namespace SimTest {

// Registers and values spelled out here, independently of the simulator.
constexpr uint32_t kScps0 = 0x0D04, kScpd0 = 0x0D08, kScsp0 = 0x0D1C, kSccfg0 = 0x0D24,
                   kGvspCapability = 0x092C, kGvspConfig = 0x0960, kGvcpCapability = 0x0934;
constexpr uint32_t kWidthReg = 0x00010000, kHeightReg = 0x00010004, kPixelFormatReg = 0x00010010,
                   kTestPatternReg = 0x00010014, kPayloadSizeReg = 0x00010018,
                   kAcquisitionModeReg = 0x0001001C, kAcquisitionStartReg = 0x00010020,
                   kAcquisitionStopReg = 0x00010024, kAcquisitionFrameCountReg = 0x00010028,
                   kAcquisitionFrameRateReg = 0x0001002C, kAcquisitionActiveReg = 0x0001003C,
                   kPayloadTypeReg = 0x00010040;
constexpr uint32_t kMono8 = 0x01080001, kMono16 = 0x01100007;
constexpr uint32_t kHostIp = 0x7F000001;  // 127.0.0.1
constexpr uint32_t kContinuous = 0, kSingleFrame = 1, kMultiFrame = 2;

inline uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

class StreamTestBase : public SimTestBase {
protected:
    // 64 x 20 Mono8: 1280 bytes, three data packets at SCPS 576 in either id mode.
    static GevSim::CameraConfig StreamConfig() {
        GevSim::CameraConfig config = Config();
        config.width = 64;
        config.height = 20;
        return config;
    }

    void SetUp() override {
        SimTestBase::SetUp();
        if (IsSkipped()) return;
        camera_ = &StartCamera(Configure());
        ASSERT_EQ(client_.WriteReg(kCcp, 2), 0);
        ASSERT_EQ(client_.WriteReg(kScda0, kHostIp), 0);
        ASSERT_EQ(client_.WriteReg(kScp0, receiver_.Port()), 0);
        ASSERT_EQ(client_.WriteReg(kScps0, 576), 0);
        ASSERT_EQ(client_.WriteReg(kAcquisitionFrameRateReg, FloatBits(100.0f)), 0);
    }
    virtual GevSim::CameraConfig Configure() { return StreamConfig(); }

    // Acquires `frames` blocks through the registers (MultiFrame) and collects them.
    std::vector<GvspPacket> Acquire(uint32_t frames) {
        EXPECT_EQ(client_.WriteReg(kAcquisitionModeReg, kMultiFrame), 0);
        EXPECT_EQ(client_.WriteReg(kAcquisitionFrameCountReg, frames), 0);
        EXPECT_EQ(client_.WriteReg(kAcquisitionStartReg, 1), 0);
        return receiver_.Collect(frames);
    }

    // Pattern of TestPattern Off, written down from the simulator's documentation.
    static uint8_t Mono8(uint32_t x, uint32_t y, uint64_t block) {
        return static_cast<uint8_t>(x + y + block);
    }

    GevSim::Camera* camera_ = nullptr;
    GvcpTestClient client_;
    GvspTestReceiver receiver_;
};

}  // namespace SimTest
