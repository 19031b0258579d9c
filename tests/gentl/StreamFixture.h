// The standard GenTL consumer loop as the stream tests drive it: a camera
// opened through the built producer, its data stream, announced buffers,
// the new-buffer event, and the camera started through its own GenApi.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "GenTLFixture.h"

namespace GenTLTest {

// Where a new-buffer event left the consumer.
struct Delivery {
    GC_ERROR result = GC_ERR_ERROR;
    BUFFER_HANDLE buffer = nullptr;
    void* privateData = nullptr;
};

class StreamTest : public GenTLCameraTest {
protected:
    void TearDown() override {
        cameraApi.reset();
        GenTLCameraTest::TearDown();
    }

    // Starts the simulator at `address` (Mono8 test pattern), discovers and
    // opens it, and opens its data stream "DS0".
    void OpenSimulator(const GevSim::CameraConfig& config);
    // Opens the camera whose serial number is `serial` and its data stream.
    void OpenCamera(const std::string& serial);

    GevSim::CameraConfig SimulatorConfig(uint32_t width = 64, uint32_t height = 48,
                                         float frameRate = 200.0f) const;

    GenApiBridge::GenApiPort& CameraApi() { return *cameraApi; }
    size_t PayloadSize() { return static_cast<size_t>(CameraApi().GetInteger("PayloadSize")); }

    // Announces `count` buffers of `size` bytes: the consumer's own memory
    // (DSAnnounceBuffer) or the producer's (DSAllocAndAnnounceBuffer).
    std::vector<BUFFER_HANDLE> Announce(size_t count, size_t size, bool producerMemory);
    void QueueAll(const std::vector<BUFFER_HANDLE>& buffers);
    void RegisterNewBuffer();
    // EventGetData on the new-buffer event.
    Delivery Next(uint64_t timeoutMs = 3000);

    // Typed DSGetBufferInfo and DSGetInfo.
    template <class T>
    T BufferInfo(BUFFER_HANDLE buffer, BUFFER_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetBufferInfo(stream, buffer, command, &type, &value, &size),
                  GC_ERR_SUCCESS)
            << "command " << command << ": " << cti.LastErrorText();
        return value;
    }
    template <class T>
    T StreamInfo(STREAM_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetInfo(stream, command, &type, &value, &size), GC_ERR_SUCCESS)
            << "command " << command << ": " << cti.LastErrorText();
        return value;
    }

    // True when the buffer holds the simulator's Mono8 test pattern (v = x + y + frame ID).
    ::testing::AssertionResult HoldsTestPattern(BUFFER_HANDLE buffer);

    GevSim::Camera& Simulator() { return *cameras.back(); }
    // DSStartAcquisition, which must succeed.
    void StartStream(uint64_t frames = GENTL_INFINITE);
    // Waits (bounded) for `condition`; false when it never held.
    template <class Condition>
    bool Await(Condition condition, std::chrono::seconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // Waits (bounded) until the simulator has sent `count` more blocks than now.
    void AwaitBlocksSent(uint64_t count);

    // Writes a stream register through its port.
    void WriteStreamRegister(uint64_t address, uint32_t value);
    uint32_t ReadStreamRegister(uint64_t address);

    // Stops the camera and the stream, discards both queues and revokes every buffer.
    void StopAndRelease(const std::vector<BUFFER_HANDLE>& buffers);
    // The same for a stream that was never started.
    void StopAndReleaseIdle(const std::vector<BUFFER_HANDLE>& buffers);

    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE newBuffer = nullptr;
    std::unique_ptr<GenApiBridge::GenApiPort> cameraApi;
    std::vector<std::vector<uint8_t>> consumerMemory;
};

}  // namespace GenTLTest
