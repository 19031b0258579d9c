// A camera that stops answering, as a consumer sees it: for longer than its
// heartbeat time-out it is lost (waits end, the stream stops grabbing, the
// error events say why, and it can be opened again once it answers); a
// shorter stall is ridden out and the stream goes on.
#include <cstring>
#include <future>
#include <string>

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

// The device module's heartbeat time-out register (ms) and its DeviceLost
// EventNotification (1: On, 0: Off).
constexpr uint64_t kDeviceHeartbeatTimeout = 0x284;
constexpr uint64_t kDeviceEventNotification = 0x294;
// Lost within the time-out and a period or two; generous for a loaded machine.
constexpr uint64_t kLossWaitMs = 20000;

class CameraLoss : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
    }

    void SetHeartbeatTimeout(uint32_t ms) {
        size_t size = sizeof ms;
        ASSERT_EQ(cti.GCWritePort(device, kDeviceHeartbeatTimeout, &ms, &size), GC_ERR_SUCCESS)
            << cti.LastErrorText();
    }

    void StartStreaming() {
        QueueAll(Announce(4, PayloadSize(), true));
        RegisterNewBuffer();
        StartStream();
        CameraApi().Execute("AcquisitionStart");
        Delivery first = Next();
        ASSERT_EQ(first.result, GC_ERR_SUCCESS);
        ASSERT_EQ(cti.DSQueueBuffer(stream, first.buffer), GC_ERR_SUCCESS);
    }

    void WriteDeviceRegister(uint64_t address, uint32_t value) {
        size_t size = sizeof value;
        ASSERT_EQ(cti.GCWritePort(device, address, &value, &size), GC_ERR_SUCCESS)
            << cti.LastErrorText();
    }

    // The module event a lost camera raised: DeviceLost, as the description maps it.
    void ExpectDeviceLost(EVENT_HANDLE module, uint64_t timeoutMs) {
        uint8_t data[64] = {};
        size_t size = sizeof data;
        ASSERT_EQ(cti.EventGetData(module, data, &size, timeoutMs), GC_ERR_SUCCESS)
            << "no DeviceLost module event";
        ASSERT_EQ(size, 16u);
        uint64_t id = 0, timestamp = 0;
        std::memcpy(&id, data, 8);
        std::memcpy(&timestamp, data + 8, 8);
        EXPECT_EQ(id, 1u);
        EXPECT_NE(timestamp, 0u);
        INFO_DATATYPE type = 0;
        uint64_t numId = 0;
        size_t numSize = sizeof numId;
        EXPECT_EQ(
            cti.EventGetDataInfo(module, data, size, EVENT_DATA_NUMID, &type, &numId, &numSize),
            GC_ERR_SUCCESS);
        EXPECT_EQ(numId, 1u);
        char text[16] = {};
        size_t textSize = sizeof text;
        EXPECT_EQ(cti.EventGetDataInfo(module, data, size, EVENT_DATA_ID, &type, text, &textSize),
                  GC_ERR_SUCCESS);
        EXPECT_STREQ(text, "0001");
        EXPECT_EQ(type, INFO_DATATYPE_STRING);
        // Too short a record is refused, not read past its end.
        EXPECT_EQ(cti.EventGetDataInfo(module, data, 8, EVENT_DATA_NUMID, &type, &numId, &numSize),
                  GC_ERR_INVALID_PARAMETER);
        int32_t eventType = -1;
        size_t typeSize = sizeof eventType;
        EXPECT_EQ(cti.EventGetInfo(module, EVENT_EVENT_TYPE, &type, &eventType, &typeSize),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(eventType, EVENT_MODULE);
    }

    bool Grabbing() {
        bool8_t grabbing = 0;
        size_t size = sizeof grabbing;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetInfo(stream, STREAM_INFO_IS_GRABBING, &type, &grabbing, &size),
                  GC_ERR_SUCCESS);
        return grabbing != 0;
    }
};

}  // namespace

TEST_F(CameraLoss, ASilentCameraIsLostItsWaitsEndAndItOpensAgainOnceItAnswers) {
    SetHeartbeatTimeout(1000);
    StartStreaming();
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    EVENT_HANDLE module = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_MODULE, &module), GC_ERR_SUCCESS);
    auto waiter = std::async(std::launch::async, [&]() -> GC_ERROR {
        // Buffers that came before the silence are handed out first.
        for (int i = 0; i < 1000; ++i) {
            Delivery delivery = Next(GENTL_INFINITE);
            if (delivery.result != GC_ERR_SUCCESS) return delivery.result;
            cti.DSQueueBuffer(stream, delivery.buffer);
        }
        return GC_ERR_SUCCESS;
    });
    Simulator().faults().SetSilent(true);
    ASSERT_EQ(waiter.wait_for(std::chrono::milliseconds(kLossWaitMs)), std::future_status::ready)
        << "an infinite wait on a lost camera never returned";
    EXPECT_EQ(waiter.get(), GC_ERR_ABORT);
    EXPECT_FALSE(Grabbing());
    uint8_t data[1024] = {};
    size_t size = sizeof data;
    EXPECT_EQ(cti.EventGetData(errors, data, &size, 0), GC_ERR_SUCCESS) << "no error event";
    // Raised before the stream's waits ended.
    ExpectDeviceLost(module, 0);
    // Later waits end at once too, not at their time-out.
    EXPECT_EQ(Next(GENTL_INFINITE).result, GC_ERR_ABORT);

    // Power back: closed, found and opened again.
    Simulator().faults().SetSilent(false);
    cameraApi.reset();
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    device = nullptr;
    stream = nullptr;
    ASSERT_EQ(Discover(), 1u);
    device = Open(DeviceID(0));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Simulator().Register(0x0A00), 2u);
}

TEST_F(CameraLoss, AnIdleDeviceRaisesDeviceLostUnlessItsNotificationIsOff) {
    SetHeartbeatTimeout(1000);
    EVENT_HANDLE module = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_MODULE, &module), GC_ERR_SUCCESS);
    Simulator().faults().SetSilent(true);
    // No stream runs: the device hears of the loss by itself.
    ExpectDeviceLost(module, kLossWaitMs);
    Simulator().faults().SetSilent(false);
    cameraApi.reset();
    ASSERT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
    device = nullptr;
    stream = nullptr;

    // Again with the notification off: the error event tells, the module event not.
    ASSERT_EQ(Discover(), 1u);
    device = Open(DeviceID(0));
    ASSERT_NE(device, nullptr);
    SetHeartbeatTimeout(1000);
    WriteDeviceRegister(kDeviceEventNotification, 0);
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.GCRegisterEvent(device, EVENT_MODULE, &module), GC_ERR_SUCCESS);
    Simulator().faults().SetSilent(true);
    uint8_t data[1024] = {};
    size_t size = sizeof data;
    ASSERT_EQ(cti.EventGetData(errors, data, &size, kLossWaitMs), GC_ERR_SUCCESS)
        << "no error event";
    EXPECT_NE(std::string(reinterpret_cast<char*>(data + 4)).find("lost"), std::string::npos);
    // Both would come from one call: once the error is there, no DeviceLost follows.
    size = sizeof data;
    EXPECT_EQ(cti.EventGetData(module, data, &size, 0), GC_ERR_TIMEOUT);
    Simulator().faults().SetSilent(false);
}

TEST_F(CameraLoss, AStallShorterThanTheHeartbeatTimeOutIsRiddenOut) {
    // A period of 2 s: a 3 s stall takes at least one heartbeat, and stays
    // well within the 6 s time-out.
    SetHeartbeatTimeout(6000);
    StartStreaming();
    Simulator().faults().SetSilent(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    Simulator().faults().SetSilent(false);
    // The stream goes on: buffers keep coming after the stall.
    int delivered = 0;
    for (int i = 0; i < 30 && delivered < 10; ++i) {
        Delivery delivery = Next(1000);
        if (delivery.result == GC_ERR_SUCCESS) {
            ++delivered;
            cti.DSQueueBuffer(stream, delivery.buffer);
        }
    }
    EXPECT_EQ(delivered, 10) << "the stream did not resume after a short stall";
    EXPECT_TRUE(Grabbing());
    uint32_t value = 0;
    size_t size = sizeof value;
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    EXPECT_EQ(cti.GCReadPort(remote, 0x0A00, &value, &size), GC_ERR_SUCCESS);
}
