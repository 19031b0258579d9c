// A plain GenTL consumer: loads the built library by its file name (dlopen,
// or LoadLibrary on Windows) and runs discovery, a register read and an
// acquisition against a simulator that runs as a separate process (started
// by tests/consumer/with-gevsim, which passes its address and serial number).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CtiLibrary.h"

using namespace GenTL;

namespace {

// The simulator's camera registers (tools/gevsim/Bootstrap.h): big-endian.
constexpr uint64_t kVersionRegister = 0x0000;
constexpr uint64_t kPayloadSize = 0x00010018;
constexpr uint64_t kAcquisitionStart = 0x00010020;
constexpr uint64_t kAcquisitionStop = 0x00010024;

uint32_t BigEndian(const uint8_t (&bytes)[4]) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}

class GenTLConsumer : public ::testing::Test {
protected:
    void SetUp() override {
        const char* address = std::getenv("GEVTLKRV_SIM_ADDRESS");
        const char* serial = std::getenv("GEVTLKRV_SIM_SERIAL");
        if (address == nullptr || serial == nullptr)
            GTEST_SKIP() << "run the test through tests/consumer/with-gevsim";
        m_serial = serial;
        ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(cti.TLOpen(&system), GC_ERR_SUCCESS);
        bool8_t changed = 0;
        ASSERT_EQ(cti.TLUpdateInterfaceList(system, &changed, 1000), GC_ERR_SUCCESS);
        ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS)
            << cti.LastErrorText();
    }
    void TearDown() override { cti.GCCloseLib(); }

    std::string DeviceText(const std::string& id, DEVICE_INFO_CMD command) {
        char text[512] = {};
        size_t size = sizeof text;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.IFGetDeviceInfo(iface, id.c_str(), command, &type, text, &size),
                  GC_ERR_SUCCESS);
        return text;
    }

    // Discovery until the simulator answers (it may still be starting).
    std::string FindSimulator() {
        for (int attempt = 0; attempt < 10; ++attempt) {
            bool8_t changed = 0;
            EXPECT_EQ(cti.IFUpdateDeviceList(iface, &changed, 500), GC_ERR_SUCCESS);
            uint32_t count = 0;
            EXPECT_EQ(cti.IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
            for (uint32_t i = 0; i < count; ++i) {
                char id[256] = {};
                size_t size = sizeof id;
                EXPECT_EQ(cti.IFGetDeviceID(iface, i, id, &size), GC_ERR_SUCCESS);
                if (DeviceText(id, DEVICE_INFO_SERIAL_NUMBER) == m_serial) return id;
            }
        }
        return "";
    }

    DEV_HANDLE OpenSimulator() {
        const std::string id = FindSimulator();
        EXPECT_FALSE(id.empty()) << "discovery found no camera with serial " << m_serial;
        if (id.empty()) return nullptr;
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(cti.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device),
                  GC_ERR_SUCCESS)
            << cti.LastErrorText();
        return device;
    }

    void WriteCamera(PORT_HANDLE port, uint64_t address, uint32_t value) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        size_t size = sizeof bytes;
        EXPECT_EQ(cti.GCWritePort(port, address, bytes, &size), GC_ERR_SUCCESS)
            << cti.LastErrorText();
    }

    template <class T>
    T BufferInfo(DS_HANDLE stream, BUFFER_HANDLE buffer, BUFFER_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetBufferInfo(stream, buffer, command, &type, &value, &size),
                  GC_ERR_SUCCESS)
            << cti.LastErrorText();
        return value;
    }

    TestSupport::CtiLibrary cti;
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    std::string m_serial;
};

TEST_F(GenTLConsumer, DiscoveryFindsTheSimulator) {
    const std::string id = FindSimulator();
    ASSERT_FALSE(id.empty()) << "discovery found no camera with serial " << m_serial;
    EXPECT_FALSE(DeviceText(id, DEVICE_INFO_VENDOR).empty());
    EXPECT_FALSE(DeviceText(id, DEVICE_INFO_MODEL).empty());
}

TEST_F(GenTLConsumer, ReadsACameraRegister) {
    DEV_HANDLE device = OpenSimulator();
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    uint8_t bytes[4] = {};
    size_t size = sizeof bytes;
    ASSERT_EQ(cti.GCReadPort(remote, kVersionRegister, bytes, &size), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(size, 4u);
    // The GigE Vision version: major in the high half, 1 or 2.
    const uint32_t version = BigEndian(bytes);
    EXPECT_GE(version >> 16, 1u) << std::hex << version;
    EXPECT_LE(version >> 16, 2u) << std::hex << version;
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
}

TEST_F(GenTLConsumer, AcquiresFrames) {
    DEV_HANDLE device = OpenSimulator();
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS) << cti.LastErrorText();
    // Buffers of the camera's payload size, as a consumer reads it from the camera.
    uint8_t bytes[4] = {};
    size_t size = sizeof bytes;
    ASSERT_EQ(cti.GCReadPort(remote, kPayloadSize, bytes, &size), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    const size_t payload = BigEndian(bytes);
    ASSERT_GT(payload, 0u);

    std::vector<BUFFER_HANDLE> buffers(4);
    for (BUFFER_HANDLE& buffer : buffers) {
        ASSERT_EQ(cti.DSAllocAndAnnounceBuffer(stream, payload, nullptr, &buffer), GC_ERR_SUCCESS)
            << cti.LastErrorText();
        ASSERT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    }
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    WriteCamera(remote, kAcquisitionStart, 1);

    uint64_t lastFrame = 0;
    for (int i = 0; i < 5; ++i) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t dataSize = sizeof data;
        ASSERT_EQ(cti.EventGetData(newBuffer, &data, &dataSize, 5000), GC_ERR_SUCCESS)
            << "frame " << i << ": " << cti.LastErrorText();
        EXPECT_FALSE(BufferInfo<bool8_t>(stream, data.BufferHandle, BUFFER_INFO_IS_INCOMPLETE));
        const uint64_t frame = BufferInfo<uint64_t>(stream, data.BufferHandle, BUFFER_INFO_FRAMEID);
        EXPECT_GT(frame, lastFrame) << "frames in order";
        lastFrame = frame;
        // The simulator's test pattern: pixel (x, y) of frame f holds x + y + f.
        const auto* base = BufferInfo<const uint8_t*>(stream, data.BufferHandle, BUFFER_INFO_BASE);
        const size_t width = BufferInfo<size_t>(stream, data.BufferHandle, BUFFER_INFO_WIDTH);
        ASSERT_NE(base, nullptr);
        ASSERT_GT(width, 1u);
        EXPECT_EQ(base[width + 1], static_cast<uint8_t>(2 + frame));
        ASSERT_EQ(cti.DSQueueBuffer(stream, data.BufferHandle), GC_ERR_SUCCESS);
    }

    WriteCamera(remote, kAcquisitionStop, 1);
    EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    for (BUFFER_HANDLE buffer : buffers)
        EXPECT_EQ(cti.DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.GCUnregisterEvent(stream, EVENT_NEW_BUFFER), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
}

}  // namespace
