#include "StreamFixture.h"

namespace GenTLTest {

GevSim::CameraConfig StreamTest::SimulatorConfig(uint32_t width, uint32_t height,
                                                 float frameRate) const {
    GevSim::CameraConfig config;
    config.address = "127.0.0.2";
    config.serial = "STREAM1";
    config.mac = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
    config.width = width;
    config.height = height;
    config.frameRate = frameRate;
    return config;
}

void StreamTest::OpenSimulator(const GevSim::CameraConfig& config) {
    cameras.push_back(std::make_unique<GevSim::Camera>(config));
    std::string error;
    ASSERT_TRUE(cameras.back()->Start(&error)) << error;
    ASSERT_GE(Discover(), 1u);
    OpenCamera(config.serial);
}

void StreamTest::OpenCamera(const std::string& serial) {
    const std::string id = IDOfSerial(serial);
    ASSERT_FALSE(id.empty());
    device = Open(id, DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    cameraApi = std::make_unique<GenApiBridge::GenApiPort>(
        GenApiBridge::GenApiPort::FromPort(remote, Ports()));
    ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS) << cti.LastErrorText();
    ASSERT_NE(stream, nullptr);
}

std::vector<BUFFER_HANDLE> StreamTest::Announce(size_t count, size_t size, bool producerMemory) {
    std::vector<BUFFER_HANDLE> buffers;
    for (size_t i = 0; i < count; ++i) {
        BUFFER_HANDLE buffer = nullptr;
        // The private pointer tells the buffers apart in the event data.
        void* privateData =
            reinterpret_cast<void*>(0x1000 + buffers.size() + consumerMemory.size());
        if (producerMemory) {
            EXPECT_EQ(cti.DSAllocAndAnnounceBuffer(stream, size, privateData, &buffer),
                      GC_ERR_SUCCESS)
                << cti.LastErrorText();
        } else {
            consumerMemory.emplace_back(size, 0xEE);
            EXPECT_EQ(cti.DSAnnounceBuffer(stream, consumerMemory.back().data(), size, privateData,
                                           &buffer),
                      GC_ERR_SUCCESS)
                << cti.LastErrorText();
        }
        buffers.push_back(buffer);
    }
    return buffers;
}

void StreamTest::QueueAll(const std::vector<BUFFER_HANDLE>& buffers) {
    for (BUFFER_HANDLE buffer : buffers)
        EXPECT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << cti.LastErrorText();
}

void StreamTest::RegisterNewBuffer() {
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS)
        << cti.LastErrorText();
}

Delivery StreamTest::Next(uint64_t timeoutMs) {
    uint8_t data[16] = {};
    size_t size = sizeof data;
    Delivery delivery;
    delivery.result = cti.EventGetData(newBuffer, data, &size, timeoutMs);
    if (delivery.result == GC_ERR_SUCCESS) {
        EXPECT_EQ(size, 16u);
        std::memcpy(&delivery.buffer, data, 8);
        std::memcpy(&delivery.privateData, data + 8, 8);
    }
    return delivery;
}

::testing::AssertionResult StreamTest::HoldsTestPattern(BUFFER_HANDLE buffer) {
    auto* base = BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE);
    const size_t width = BufferInfo<size_t>(buffer, BUFFER_INFO_WIDTH);
    const size_t height = BufferInfo<size_t>(buffer, BUFFER_INFO_HEIGHT);
    const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
    const size_t stride = width + BufferInfo<size_t>(buffer, BUFFER_INFO_XPADDING);
    if (base == nullptr || width == 0 || height == 0)
        return ::testing::AssertionFailure() << "no image described";
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) {
            const uint8_t expected = static_cast<uint8_t>(x + y + frame);
            const uint8_t actual = base[y * stride + x];
            if (actual != expected) {
                return ::testing::AssertionFailure()
                       << "frame " << frame << " pixel (" << x << ", " << y << ") is "
                       << int(actual) << ", expected " << int(expected);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void StreamTest::StartStream(uint64_t frames) {
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, frames), GC_ERR_SUCCESS)
        << cti.LastErrorText();
}

void StreamTest::AwaitBlocksSent(uint64_t count) {
    const uint64_t target = Simulator().StreamStats().blocksSent + count;
    ASSERT_TRUE(Await([&] { return Simulator().StreamStats().blocksSent >= target; }))
        << "the camera stopped sending";
}

void StreamTest::WriteStreamRegister(uint64_t address, uint32_t value) {
    size_t size = sizeof value;
    EXPECT_EQ(cti.GCWritePort(stream, address, &value, &size), GC_ERR_SUCCESS)
        << cti.LastErrorText();
}

uint32_t StreamTest::ReadStreamRegister(uint64_t address) {
    uint32_t value = 0;
    size_t size = sizeof value;
    EXPECT_EQ(cti.GCReadPort(stream, address, &value, &size), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    return value;
}

void StreamTest::StopAndRelease(const std::vector<BUFFER_HANDLE>& buffers) {
    CameraApi().Execute("AcquisitionStop");
    EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    StopAndReleaseIdle(buffers);
}

void StreamTest::StopAndReleaseIdle(const std::vector<BUFFER_HANDLE>& buffers) {
    EXPECT_EQ(cti.DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    for (BUFFER_HANDLE buffer : buffers)
        EXPECT_EQ(cti.DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS)
            << cti.LastErrorText();
}

}  // namespace GenTLTest
