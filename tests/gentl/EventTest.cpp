// The camera's event messages through EVENT_REMOTE_DEVICE: the record forms,
// one device never seeing another's events, full time-outs, kill and flush.
#include <future>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

class RemoteDeviceEvents : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        oldCamera = &StartCamera("127.0.0.2", "GEV1", 1);
        newCamera = &StartCamera("127.0.0.3", "GEV2", 2);
        ASSERT_EQ(Discover(), 2u);
        oldDevice = Open(IDOfSerial("GEV1"));
        newDevice = Open(IDOfSerial("GEV2"));
        ASSERT_EQ(cti.GCRegisterEvent(oldDevice, EVENT_REMOTE_DEVICE, &oldEvents), GC_ERR_SUCCESS);
        ASSERT_EQ(cti.GCRegisterEvent(newDevice, EVENT_REMOTE_DEVICE, &newEvents), GC_ERR_SUCCESS);
    }

    static GevSim::EventMessage Message(uint16_t id, std::vector<uint8_t> data = {}) {
        GevSim::EventMessage message;
        message.eventId = id;
        message.blockId = 0x1234;
        message.timestamp = 0x0102030405060708ull;
        message.data = std::move(data);
        return message;
    }

    std::vector<uint8_t> Next(EVENT_HANDLE event, GC_ERROR* result, uint64_t timeout = 2000) {
        std::vector<uint8_t> record(1024);
        size_t size = record.size();
        *result = cti.EventGetData(event, record.data(), &size, timeout);
        record.resize(*result == GC_ERR_SUCCESS ? size : 0);
        return record;
    }

    static uint16_t U16(const std::vector<uint8_t>& r, size_t at) {
        return static_cast<uint16_t>(r[at] | r[at + 1] << 8);
    }

    GevSim::Camera* oldCamera = nullptr;
    GevSim::Camera* newCamera = nullptr;
    DEV_HANDLE oldDevice = nullptr;
    DEV_HANDLE newDevice = nullptr;
    EVENT_HANDLE oldEvents = nullptr;
    EVENT_HANDLE newEvents = nullptr;
};

}  // namespace

TEST_F(RemoteDeviceEvents, RecordsTakeTheFormOfTheCamerasVersion) {
    ASSERT_TRUE(oldCamera->SendEvent(Message(0x9001, {0xA, 0xB, 0xC, 0xD})));
    GC_ERROR result = 0;
    std::vector<uint8_t> record = Next(oldEvents, &result);
    ASSERT_EQ(result, GC_ERR_SUCCESS) << cti.LastErrorText();
    ASSERT_EQ(record.size(), 28u);
    EXPECT_EQ(record[0], 0x42);
    EXPECT_EQ(U16(record, 2), 0x00C2);
    EXPECT_EQ(U16(record, 4), 20);
    EXPECT_EQ(U16(record, 10), 0x9001);
    EXPECT_EQ(U16(record, 14), 0x1234);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 24, record.end()),
              (std::vector<uint8_t>{0xA, 0xB, 0xC, 0xD}));

    ASSERT_TRUE(newCamera->SendEvent(Message(0x0003)));
    record = Next(newEvents, &result);
    ASSERT_EQ(result, GC_ERR_SUCCESS);
    ASSERT_EQ(record.size(), 32u);
    EXPECT_EQ(U16(record, 2), 0x00C0);
    EXPECT_EQ(U16(record, 4), 24);

    char id[16] = {};
    size_t size = sizeof id;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(cti.EventGetDataInfo(newEvents, record.data(), record.size(), EVENT_DATA_ID, &type,
                                   id, &size),
              GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "0003");
}

TEST_F(RemoteDeviceEvents, EachDeviceSeesOnlyItsOwnEventsAndWaitsItsFullTimeout) {
    ASSERT_TRUE(newCamera->SendEvent(Message(0x0004)));
    ASSERT_TRUE(WaitFor([&] {
        size_t queued = 0, size = sizeof queued;
        INFO_DATATYPE type = 0;
        cti.EventGetInfo(newEvents, EVENT_NUM_IN_QUEUE, &type, &queued, &size);
        return queued == 1;
    }));
    GC_ERROR result = 0;
    const auto start = std::chrono::steady_clock::now();
    Next(oldEvents, &result, 300);
    EXPECT_EQ(result, GC_ERR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(280))
        << "another device's event must not cut the wait short";

    // A flush of one device leaves the other's events alone.
    ASSERT_EQ(cti.EventFlush(oldEvents), GC_ERR_SUCCESS);
    std::vector<uint8_t> record = Next(newEvents, &result);
    ASSERT_EQ(result, GC_ERR_SUCCESS);
    EXPECT_EQ(U16(record, 10), 0x0004);
}

TEST_F(RemoteDeviceEvents, KillAbortsTheWaitInProgressOnly) {
    auto waiting = std::async(std::launch::async, [&] {
        GC_ERROR result = 0;
        Next(oldEvents, &result, GENTL_INFINITE);
        return result;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(cti.EventKill(oldEvents), GC_ERR_SUCCESS);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), GC_ERR_ABORT);

    GC_ERROR result = 0;
    Next(oldEvents, &result, 200);
    EXPECT_EQ(result, GC_ERR_TIMEOUT) << "a later wait runs its time";
    ASSERT_TRUE(oldCamera->SendEvent(Message(0x0005)));
    Next(oldEvents, &result);
    EXPECT_EQ(result, GC_ERR_SUCCESS);
}

TEST_F(RemoteDeviceEvents, ClosingOneDeviceKeepsTheOthersEvents) {
    ASSERT_TRUE(newCamera->SendEvent(Message(0x0006)));
    ASSERT_TRUE(oldCamera->SendEvent(Message(0x0006)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(cti.DevClose(oldDevice), GC_ERR_SUCCESS);
    GC_ERROR result = 0;
    Next(newEvents, &result);
    EXPECT_EQ(result, GC_ERR_SUCCESS);
    // The closed device's event handle is gone with it.
    Next(oldEvents, &result, 0);
    EXPECT_EQ(result, GC_ERR_INVALID_HANDLE);
}
