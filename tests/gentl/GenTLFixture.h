// A GenTL consumer's set-up for the end-to-end tests: the built producer
// loaded with dlopen, initialised, its system module and "GigE" interface
// open, and helpers for the calls every test makes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CtiLibrary.h"
#include "GenApiPortBridge.h"
#include "GevSimCamera.h"

namespace GenTLTest {

using namespace GenTL;

class GenTLCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)
            GTEST_SKIP() << "run the test through tests/netns/netns-run";
        ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(cti.TLOpen(&system), GC_ERR_SUCCESS);
        ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS);
    }
    void TearDown() override { cti.GCCloseLib(); }

    GevSim::Camera& StartCamera(const std::string& address, const std::string& serial,
                                uint16_t versionMajor = 2) {
        GevSim::CameraConfig config;
        config.address = address;
        config.serial = serial;
        config.versionMajor = versionMajor;
        config.mac = {0x02, 0x00, 0x5E, 0x10, 0x00, static_cast<uint8_t>(cameras.size() + 1)};
        cameras.push_back(std::make_unique<GevSim::Camera>(config));
        std::string error;
        EXPECT_TRUE(cameras.back()->Start(&error)) << error;
        return *cameras.back();
    }

    // Discovery through the interface, with a short time-out per adapter.
    uint32_t Discover() {
        bool8_t changed = 0;
        EXPECT_EQ(cti.IFUpdateDeviceList(iface, &changed, 300), GC_ERR_SUCCESS);
        uint32_t count = 0;
        EXPECT_EQ(cti.IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
        return count;
    }

    std::string DeviceID(uint32_t index) {
        char id[256] = {};
        size_t size = sizeof id;
        EXPECT_EQ(cti.IFGetDeviceID(iface, index, id, &size), GC_ERR_SUCCESS);
        return id;
    }

    // The ID of the discovered camera whose serial number is `serial`.
    std::string IDOfSerial(const std::string& serial) {
        uint32_t count = 0;
        cti.IFGetNumDevices(iface, &count);
        for (uint32_t i = 0; i < count; ++i) {
            std::string id = DeviceID(i);
            if (DeviceText(id, DEVICE_INFO_SERIAL_NUMBER) == serial) return id;
        }
        ADD_FAILURE() << "no camera with serial " << serial;
        return "";
    }

    std::string DeviceText(const std::string& id, DEVICE_INFO_CMD command) {
        char text[512] = {};
        size_t size = sizeof text;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.IFGetDeviceInfo(iface, id.c_str(), command, &type, text, &size),
                  GC_ERR_SUCCESS);
        return text;
    }

    int32_t DeviceInt(const std::string& id, DEVICE_INFO_CMD command) {
        int32_t value = -1;
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.IFGetDeviceInfo(iface, id.c_str(), command, &type, &value, &size),
                  GC_ERR_SUCCESS);
        return value;
    }

    DEV_HANDLE Open(const std::string& id, DEVICE_ACCESS_FLAGS flags = DEVICE_ACCESS_CONTROL) {
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), flags, &device), GC_ERR_SUCCESS)
            << cti.LastErrorText();
        return device;
    }

    GenApiBridge::PortFunctions Ports() const { return GenApiBridge::PortFunctionsOf(cti); }

    TestSupport::CtiLibrary cti;
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    std::vector<std::unique_ptr<GevSim::Camera>> cameras;
};

// A number from the environment (decimal, or 0x hexadecimal), or `fallback`.
inline uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

}  // namespace GenTLTest
