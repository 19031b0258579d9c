// The error event queue in-process: registration, first-in-first-out
// delivery of (code, text) records, size queries, waits with time-outs, kills
// from other threads, and the info and data-info queries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "DebugOutput.h"
#include "EventQueue.h"
#include "Exceptions.h"
#include "LibraryController.h"

namespace GenTL {
namespace {

using namespace std::chrono_literals;

// What f throws as E: its code and text; "<none>" or "<other>" otherwise.
template <class E, class F>
std::pair<GC_ERROR, std::string> Thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return {e.GetCode(), e.what()};
    } catch (...) {
        return {GC_ERR_SUCCESS, "<other>"};
    }
    return {GC_ERR_SUCCESS, "<none>"};
}

struct Record {
    int32_t code = 0;
    std::string text;
    size_t size = 0;
};

// The record in an event data buffer: code at 0, text and NUL from 4.
Record Parse(const std::vector<unsigned char>& data, size_t size) {
    Record record;
    std::memcpy(&record.code, data.data(), 4);
    record.text = reinterpret_cast<const char*>(data.data() + 4);
    record.size = size;
    return record;
}

size_t NumInQueue(CEventError& event) {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t value = 0;
    size_t size = sizeof value;
    event.GetInfo(EVENT_NUM_IN_QUEUE, &type, &value, &size);
    EXPECT_EQ(type, INFO_DATATYPE_SIZET);
    EXPECT_EQ(size, sizeof(size_t));
    return value;
}

// Ends a wait that a fault left blocked, so that a failing test fails
// instead of hanging in the future's destructor.
template <class Future>
struct Unblock {
    CEventError& event;
    Future& waiter;
    ~Unblock() {
        if (!waiter.valid() ||
            waiter.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            return;
        }
        try {
            event.Unregister();
        } catch (const gentl_exception&) {
        }
    }
};

class EventQueueTest : public ::testing::Test {
protected:
    void SetUp() override { event.Register(); }

    // One GetData with a generous buffer; nullopt-like empty text on no delivery.
    bool Take(Record* record, uint64_t timeout = 0) {
        std::vector<unsigned char> buffer(256, 0xAA);
        size_t size = buffer.size();
        if (!event.GetData(buffer.data(), &size, timeout)) return false;
        *record = Parse(buffer, size);
        return true;
    }

    CEventError event;
};

TEST_F(EventQueueTest, DeliversFirstInFirstOut) {
    event.Report(GC_ERR_CUSTOM_ID, "first");
    event.Report(GC_ERR_ERROR, "second");
    event.Report(-1, "third one");
    EXPECT_EQ(NumInQueue(event), 3u);

    Record record;
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.code, GC_ERR_CUSTOM_ID);
    EXPECT_EQ(record.text, "first");
    EXPECT_EQ(record.size, 10u);
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.code, GC_ERR_ERROR);
    EXPECT_EQ(record.text, "second");
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.code, -1);
    EXPECT_EQ(record.text, "third one");
    EXPECT_EQ(record.size, 14u);
    EXPECT_EQ(NumInQueue(event), 0u);
    EXPECT_FALSE(Take(&record));
}

// A consumer that registers the error event and never reads it: the queue
// stays bounded, repeats fold into one entry, and the newest reports are kept.
TEST_F(EventQueueTest, AnUnreadQueueStaysBoundedAndKeepsTheNewest) {
    for (int i = 0; i < 1000; ++i) event.Report(GC_ERR_CUSTOM_ID, "Error GEVGetImageBuffer.");
    EXPECT_EQ(NumInQueue(event), 1u) << "one failure told once while unread";
    EXPECT_EQ(event.Folded(), 999u);
    for (int i = 0; i < 10000; ++i) event.Report(GC_ERR_ERROR, "report " + std::to_string(i));
    EXPECT_EQ(NumInQueue(event), CEventError::kMaxQueued);
    EXPECT_EQ(event.Dropped(), 10001u - CEventError::kMaxQueued);
    Record record;
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.text, "report " + std::to_string(10000 - CEventError::kMaxQueued));
    // Once read, the same failure is told again.
    event.Flush();
    event.Report(GC_ERR_CUSTOM_ID, "Error GEVGetImageBuffer.");
    event.Report(GC_ERR_ERROR, "other");
    event.Report(GC_ERR_CUSTOM_ID, "Error GEVGetImageBuffer.");
    EXPECT_EQ(NumInQueue(event), 3u) << "only repeats in a row fold";
}

TEST_F(EventQueueTest, WritesExactlyTheRecordBytes) {
    event.Report(0x12345678, "abc");
    std::vector<unsigned char> buffer(16, 0xAA);
    size_t size = buffer.size();
    ASSERT_TRUE(event.GetData(buffer.data(), &size, 0));
    EXPECT_EQ(size, 8u);
    const std::vector<unsigned char> expected = {0x78, 0x56, 0x34, 0x12, 'a',  'b',  'c',  0,
                                                 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(buffer, expected);
}

TEST_F(EventQueueTest, SizeQueryLeavesTheEntryQueued) {
    event.Report(GC_ERR_CUSTOM_ID, "Error GEVReadRegister Error Code: 0x8003");
    size_t size = 0;
    EXPECT_FALSE(event.GetData(nullptr, &size, 0));
    EXPECT_EQ(size, std::strlen("Error GEVReadRegister Error Code: 0x8003") + 5);
    EXPECT_EQ(NumInQueue(event), 1u);

    std::vector<unsigned char> buffer(size);
    ASSERT_TRUE(event.GetData(buffer.data(), &size, 0));
    EXPECT_EQ(Parse(buffer, size).text, "Error GEVReadRegister Error Code: 0x8003");
    EXPECT_EQ(NumInQueue(event), 0u);
}

TEST_F(EventQueueTest, TooSmallBufferFailsAndKeepsTheEntry) {
    event.Report(GC_ERR_CUSTOM_ID, "0123456789");  // data size 15
    std::vector<unsigned char> buffer(14, 0xAA);
    size_t size = buffer.size();
    const auto thrown =
        Thrown<buffer_too_small_exception>([&] { event.GetData(buffer.data(), &size, 0); });
    EXPECT_EQ(thrown.first, GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(thrown.second, "Prepared buffer is too small. Required: 15. Prepared: 14.");
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(buffer, std::vector<unsigned char>(14, 0xAA));
    EXPECT_EQ(NumInQueue(event), 1u);

    buffer.resize(15);
    size = 15;
    ASSERT_TRUE(event.GetData(buffer.data(), &size, 0));
    EXPECT_EQ(size, 15u);
    EXPECT_EQ(Parse(buffer, size).text, "0123456789");
}

TEST_F(EventQueueTest, NullBufferWithSizeIsAnInvalidBuffer) {
    event.Report(1, "x");
    size_t size = 64;
    const auto thrown =
        Thrown<invalid_buffer_size_exception>([&] { event.GetData(nullptr, &size, 0); });
    EXPECT_EQ(thrown.first, GC_ERR_INVALID_BUFFER);
    EXPECT_EQ(thrown.second, "Invalid buffer");
    EXPECT_EQ(NumInQueue(event), 1u);
}

TEST(EventQueueRegistration, RegisterTwiceFails) {
    CEventError event;
    EXPECT_FALSE(event.IsRegistered());
    event.Register();
    EXPECT_TRUE(event.IsRegistered());
    const auto thrown = Thrown<resource_in_use_exception>([&] { event.Register(); });
    EXPECT_EQ(thrown.first, GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(thrown.second, "Event already registered");
    EXPECT_TRUE(event.IsRegistered());
}

TEST(EventQueueRegistration, UnregisterWhenUnregisteredFails) {
    CEventError event;
    auto thrown = Thrown<not_initialized_exception>([&] { event.Unregister(); });
    EXPECT_EQ(thrown.first, GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(thrown.second, "Event not yet registered");
    event.Register();
    event.Unregister();
    EXPECT_FALSE(event.IsRegistered());
    thrown = Thrown<not_initialized_exception>([&] { event.Unregister(); });
    EXPECT_EQ(thrown.second, "Event not yet registered");
}

TEST(EventQueueRegistration, PushWhileUnregisteredIsDropped) {
    CEventError event;
    event.Report(GC_ERR_CUSTOM_ID, "lost");
    event.Register();
    EXPECT_EQ(NumInQueue(event), 0u);
    size_t size = 64;
    std::vector<unsigned char> buffer(size);
    EXPECT_FALSE(event.GetData(buffer.data(), &size, 0));

    event.Report(GC_ERR_CUSTOM_ID, "kept");
    EXPECT_EQ(NumInQueue(event), 1u);
    event.Unregister();
    event.Report(GC_ERR_CUSTOM_ID, "lost too");
    event.Register();
    EXPECT_EQ(NumInQueue(event), 1u);
}

TEST(EventQueueRegistration, OperationsOnAnUnregisteredEventFail) {
    CEventError event;
    size_t size = 64;
    std::vector<unsigned char> buffer(size);
    auto thrown = Thrown<invalid_handle_exception>([&] { event.GetData(buffer.data(), &size, 0); });
    EXPECT_EQ(thrown.first, GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(thrown.second, "Event EventNewBuffer not registered");

    thrown = Thrown<invalid_handle_exception>([&] { event.Flush(); });
    EXPECT_EQ(thrown.second, "Event not registered");

    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    thrown = Thrown<invalid_handle_exception>(
        [&] { event.GetInfo(EVENT_EVENT_TYPE, &type, buffer.data(), &size); });
    EXPECT_EQ(thrown.first, GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(thrown.second, "Event ID 0 not registered");
}

TEST_F(EventQueueTest, FlushEmptiesTheQueue) {
    event.Report(1, "a");
    event.Report(2, "b");
    event.Flush();
    EXPECT_EQ(NumInQueue(event), 0u);
    Record record;
    EXPECT_FALSE(Take(&record));
    event.Report(3, "c");
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.code, 3);
}

TEST_F(EventQueueTest, TimedWaitTimesOut) {
    Record record;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Take(&record, 100));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 95ms);
    EXPECT_FALSE(event.IsKilled());
}

TEST_F(EventQueueTest, KillFromAnotherThreadEndsAnInfiniteWait) {
    auto waiter = std::async(std::launch::async, [&] {
        Record record;
        const bool delivered = Take(&record, GENTL_INFINITE);
        return std::make_pair(delivered, event.IsKilled());
    });
    Unblock<decltype(waiter)> unblock{event, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    event.Kill();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    const auto result = waiter.get();
    EXPECT_FALSE(result.first);
    EXPECT_TRUE(result.second);
    EXPECT_TRUE(event.IsKilled());
}

TEST_F(EventQueueTest, KillLastsUntilUnregisteredAndLosesNoEntry) {
    event.Kill();
    event.Report(GC_ERR_CUSTOM_ID, "survives");
    Record record;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Take(&record, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(event.IsKilled());
    EXPECT_FALSE(Take(&record, 10000));
    EXPECT_EQ(NumInQueue(event), 1u);

    event.Unregister();
    EXPECT_FALSE(event.IsKilled());
    event.Register();
    ASSERT_TRUE(Take(&record));
    EXPECT_EQ(record.text, "survives");
}

TEST_F(EventQueueTest, KillThenUnregisterStillAbortsTheWait) {
    auto waiter = std::async(std::launch::async, [&] {
        Record record;
        const bool delivered = Take(&record, GENTL_INFINITE);
        return std::make_pair(delivered, event.IsKilled());
    });
    Unblock<decltype(waiter)> unblock{event, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    event.Kill();
    event.Unregister();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    const auto result = waiter.get();
    EXPECT_FALSE(result.first);
    EXPECT_TRUE(result.second);
    EXPECT_FALSE(event.IsKilled());
}

TEST_F(EventQueueTest, UnregisterEndsAWaitAsNotRegistered) {
    auto waiter = std::async(std::launch::async, [&] {
        Record record;
        return Thrown<invalid_handle_exception>([&] { Take(&record, GENTL_INFINITE); });
    });
    Unblock<decltype(waiter)> unblock{event, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    event.Unregister();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get().second, "Event EventNewBuffer not registered");
}

TEST_F(EventQueueTest, InfiniteWaitIsWokenByAPush) {
    auto waiter = std::async(std::launch::async, [&] {
        Record record;
        record.code = Take(&record, GENTL_INFINITE) ? record.code : 0;
        return record;
    });
    Unblock<decltype(waiter)> unblock{event, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    event.Report(GC_ERR_CUSTOM_ID, "wake up");
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    const Record record = waiter.get();
    EXPECT_EQ(record.code, GC_ERR_CUSTOM_ID);
    EXPECT_EQ(record.text, "wake up");
}

// A deadline computed from these would overflow the clock and lie in the past.
TEST_F(EventQueueTest, HugeTimeoutsWaitInsteadOfOverflowing) {
    const std::vector<uint64_t> timeouts = {GENTL_INFINITE - 1, uint64_t{1} << 63,
                                            uint64_t{1} << 53, uint64_t{1} << 40};
    for (uint64_t timeout : timeouts) {
        SCOPED_TRACE(timeout);
        auto waiter = std::async(std::launch::async, [&] {
            Record record;
            return Take(&record, timeout);
        });
        Unblock<decltype(waiter)> unblock{event, waiter};
        EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
        event.Report(1, "now");
        ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(waiter.get());
    }
}

TEST(EventQueueLifetime, DestructionEndsAWait) {
    auto event = std::make_unique<CEventError>();
    event->Register();
    CEventError* raw = event.get();
    auto waiter = std::async(std::launch::async, [raw] {
        size_t size = 64;
        std::vector<unsigned char> buffer(size);
        return Thrown<invalid_handle_exception>(
            [&] { raw->GetData(buffer.data(), &size, GENTL_INFINITE); });
    });
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    event.reset();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get().second, "Event EventNewBuffer not registered");
}

TEST_F(EventQueueTest, GetInfoValues) {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    int32_t eventType = -1;
    size_t size = sizeof eventType;
    event.GetInfo(EVENT_EVENT_TYPE, &type, &eventType, &size);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(eventType, EVENT_ERROR);
    EXPECT_EQ(size, 4u);

    event.Report(1, "a");
    event.Report(2, "b");
    EXPECT_EQ(NumInQueue(event), 2u);

    std::vector<std::string> lines;
    Platform::SetDebugOutputCapture([&](const std::string& text) { lines.push_back(text); });
    for (EVENT_INFO_CMD command : {EVENT_SIZE_MAX, EVENT_INFO_DATA_SIZE_MAX}) {
        size_t value = 0;
        size = sizeof value;
        type = INFO_DATATYPE_UNKNOWN;
        event.GetInfo(command, &type, &value, &size);
        EXPECT_EQ(type, INFO_DATATYPE_SIZET);
        EXPECT_EQ(value, 2048u);
        EXPECT_EQ(size, sizeof(size_t));
    }
    Platform::SetDebugOutputCapture(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "EVENT_INFO_DATA_SIZE_MAX: 2048\n");

    size = 8;
    uint64_t fired = 0;
    event.GetInfo(EVENT_NUM_FIRED, &type, &fired, &size);
    EXPECT_EQ(type, INFO_DATATYPE_UINT64);
    size = 8;
    for (EVENT_INFO_CMD command : {EVENT_INFO_CUSTOM_ID}) {
        const auto thrown = Thrown<implementation_exception>(
            [&] { event.GetInfo(command, &type, &eventType, &size); });
        EXPECT_EQ(thrown.first, GC_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(thrown.second,
                  "Requested iID is not implemented; iID = " + std::to_string(command) + ".");
    }
}

TEST_F(EventQueueTest, GetDataInfoReadsTheRecord) {
    event.Report(GC_ERR_CUSTOM_ID, "camera gone");
    std::vector<unsigned char> data(64);
    size_t dataSize = data.size();
    ASSERT_TRUE(event.GetData(data.data(), &dataSize, 0));

    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    int32_t code = 0;
    size_t size = sizeof code;
    event.GetDataInfo(data.data(), dataSize, EVENT_DATA_ID, &type, &code, &size);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(code, GC_ERR_CUSTOM_ID);
    EXPECT_EQ(size, 4u);

    char text[64] = {};
    size = sizeof text;
    event.GetDataInfo(data.data(), dataSize, EVENT_DATA_VALUE, &type, text, &size);
    EXPECT_EQ(type, INFO_DATATYPE_STRING);
    EXPECT_STREQ(text, "camera gone");
    EXPECT_EQ(size, 12u);

    size = 0;
    event.GetDataInfo(data.data(), dataSize, EVENT_DATA_VALUE, &type, nullptr, &size);
    EXPECT_EQ(size, 12u);

    for (EVENT_DATA_INFO_CMD command : {EVENT_DATA_NUMID, EVENT_DATA_CUSTOM_ID}) {
        const auto thrown = Thrown<implementation_exception>([&] {
            event.CEventError::GetDataInfo(data.data(), dataSize, command, &type, text, &size);
        });
        EXPECT_EQ(thrown.first, GC_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(thrown.second,
                  "Requested iID is not implemented; iID = " + std::to_string(command) + ".");
    }
}

TEST_F(EventQueueTest, GetDataInfoStaysInsideTheInput) {
    // No NUL within iInSize: the text ends at the input's end, read no further.
    const unsigned char unterminated[] = {1, 0, 0, 0, 'a', 'b', 'c', 'X', 'Y'};
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    char text[16];
    std::memset(text, 0x7F, sizeof text);
    size_t size = sizeof text;
    event.GetDataInfo(unterminated, 7, EVENT_DATA_VALUE, &type, text, &size);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(size, 4u);

    // Only the code: an empty text.
    size = sizeof text;
    event.GetDataInfo(unterminated, 4, EVENT_DATA_VALUE, &type, text, &size);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(size, 1u);

    // Fewer bytes than the code needs.
    for (EVENT_DATA_INFO_CMD command : {EVENT_DATA_ID, EVENT_DATA_VALUE}) {
        size = sizeof text;
        const auto thrown = Thrown<invalid_parameter_exception>(
            [&] { event.GetDataInfo(unterminated, 3, command, &type, text, &size); });
        EXPECT_EQ(thrown.first, GC_ERR_INVALID_PARAMETER);
        EXPECT_EQ(thrown.second, "Specified iInSize is invalid: iInSize = 3.");
    }

    // A too small output buffer for the text.
    size = 3;
    const auto thrown = Thrown<buffer_too_small_exception>(
        [&] { event.GetDataInfo(unterminated, 7, EVENT_DATA_VALUE, &type, text, &size); });
    EXPECT_EQ(thrown.second, "Prepared buffer is too small. Required: 4. Prepared: 3.");
}

}  // namespace
}  // namespace GenTL

// ---- The error queue as the event exports drive it ---------------------------
// A stand-in interface module owns an error event, so that EventGetData and
// EventGetInfo pass their interface entry check in this build.

namespace GenTL {
namespace {

class FakeInterface : public ICommonBase {
public:
    int64_t ReadBlock(uint64_t, void*, size_t*) override { throw Unused(); }
    int64_t WriteBlock(uint64_t, const void*, size_t*) override { throw Unused(); }
    void ReadRegister(uint64_t, uint32_t*) override { throw Unused(); }
    void WriteRegister(uint64_t, uint32_t) override { throw Unused(); }
    void GetURL(char*, size_t*) override { throw Unused(); }
    void GetPortInfo(PORT_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override { throw Unused(); }
    void GetNumURLs(uint32_t*) override { throw Unused(); }
    void GetURLInfo(uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override {
        throw Unused();
    }
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override {
        if (iEventID != EVENT_ERROR) throw implementation_exception("not the error event");
        errorEvent.Register();
        *ppEvent = &errorEvent;
    }
    void UnregisterEvent(EVENT_TYPE) override { errorEvent.Unregister(); }
    ICommonBase* GetParent() override { return nullptr; }

    CEventError errorEvent;

private:
    static implementation_exception Unused() { return implementation_exception("unused"); }
};

std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

class EventExportsInProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (GCInitLib() != GC_ERR_SUCCESS) {
            GCCloseLib();
            ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(TLOpen(&hSystem), GC_ERR_SUCCESS);
        ASSERT_EQ(CLibraryController::Instance().AddInterface("FakeIF", ifaceRef, nullptr),
                  GC_ERR_SUCCESS);
        ASSERT_EQ(GCRegisterEvent(ToHandle(&iface), EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
        ASSERT_EQ(hEvent, static_cast<void*>(static_cast<CEventObj*>(&iface.errorEvent)));
    }
    void TearDown() override {
        // Out of the registry before the shutdown closes what is registered.
        CLibraryController::Instance().TakeInterface(ToHandle(&iface));
        GCCloseLib();
    }

    std::pair<GC_ERROR, std::string> LastError() {
        GC_ERROR code = 0;
        char text[1024] = {};
        size_t size = sizeof text;
        GCGetLastError(&code, text, &size);
        return {code, text};
    }

    FakeInterface iface;
    // The registry holds modules by reference count; this one is the fixture's.
    ModuleRef ifaceRef{&iface, [](ICommonBase*) {}};
    TL_HANDLE hSystem = nullptr;
    EVENT_HANDLE hEvent = nullptr;
};

TEST_F(EventExportsInProcess, DeliversAReportedError) {
    iface.errorEvent.Report(GC_ERR_CUSTOM_ID, "Unable to open the device X");
    std::vector<unsigned char> data(256);
    size_t size = data.size();
    ASSERT_EQ(EventGetData(hEvent, data.data(), &size, 1000), GC_ERR_SUCCESS);
    EXPECT_EQ(LastError().second, "GC_ERR_SUCCESS");
    const Record record = Parse(data, size);
    EXPECT_EQ(record.code, GC_ERR_CUSTOM_ID);
    EXPECT_EQ(record.text, "Unable to open the device X");
    EXPECT_EQ(size, record.text.size() + 5);

    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    char text[64] = {};
    size_t textSize = sizeof text;
    ASSERT_EQ(EventGetDataInfo(hEvent, data.data(), size, EVENT_DATA_VALUE, &type, text, &textSize),
              GC_ERR_SUCCESS);
    EXPECT_STREQ(text, "Unable to open the device X");
    int32_t code = 0;
    textSize = sizeof code;
    ASSERT_EQ(EventGetDataInfo(hEvent, data.data(), size, EVENT_DATA_ID, &type, &code, &textSize),
              GC_ERR_SUCCESS);
    EXPECT_EQ(code, GC_ERR_CUSTOM_ID);
}

TEST_F(EventExportsInProcess, EmptyQueueAndSizeQueryGiveTheTimeout) {
    size_t size = 64;
    std::vector<unsigned char> data(size);
    EXPECT_EQ(EventGetData(hEvent, data.data(), &size, 0), GC_ERR_TIMEOUT);
    EXPECT_EQ(LastError(),
              std::make_pair(GC_ERROR{GC_ERR_TIMEOUT},
                             "The specified iTimeout expired before the hEvent occurred: "
                             "iTimeout = 0, hEvent = " +
                                 Hex(hEvent) + "."));

    iface.errorEvent.Report(-1, "abcd");
    size = 0;
    EXPECT_EQ(EventGetData(hEvent, nullptr, &size, 0), GC_ERR_TIMEOUT);
    EXPECT_EQ(size, 9u);

    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t count = 0;
    size = sizeof count;
    ASSERT_EQ(EventGetInfo(hEvent, EVENT_NUM_IN_QUEUE, &type, &count, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(EventFlush(hEvent), GC_ERR_SUCCESS);
    ASSERT_EQ(EventGetInfo(hEvent, EVENT_NUM_IN_QUEUE, &type, &count, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0u);
}

TEST_F(EventExportsInProcess, KillAbortsAnInfiniteWaitUntilUnregistered) {
    auto waiter = std::async(std::launch::async, [&] {
        size_t size = 64;
        std::vector<unsigned char> data(size);
        return EventGetData(hEvent, data.data(), &size, GENTL_INFINITE);
    });
    Unblock<decltype(waiter)> unblock{iface.errorEvent, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(EventKill(hEvent), GC_ERR_SUCCESS);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), GC_ERR_ABORT);

    // The kill holds until unregistering, and the entry stays queued.
    iface.errorEvent.Report(1, "kept");
    size_t size = 64;
    std::vector<unsigned char> data(size);
    EXPECT_EQ(EventGetData(hEvent, data.data(), &size, 10000), GC_ERR_ABORT);

    ASSERT_EQ(GCUnregisterEvent(ToHandle(&iface), EVENT_ERROR), GC_ERR_SUCCESS);
    EXPECT_EQ(EventGetData(hEvent, data.data(), &size, 0), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(LastError().second, "Specified pEvent is invalid: pEvent = " + Hex(hEvent) + ".");

    ASSERT_EQ(GCRegisterEvent(ToHandle(&iface), EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    size = data.size();
    ASSERT_EQ(EventGetData(hEvent, data.data(), &size, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(Parse(data, size).text, "kept");
}

TEST_F(EventExportsInProcess, KillThenUnregisterStillAbortsTheWait) {
    auto waiter = std::async(std::launch::async, [&] {
        size_t size = 64;
        std::vector<unsigned char> data(size);
        return EventGetData(hEvent, data.data(), &size, GENTL_INFINITE);
    });
    Unblock<decltype(waiter)> unblock{iface.errorEvent, waiter};
    EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(EventKill(hEvent), GC_ERR_SUCCESS);
    EXPECT_EQ(GCUnregisterEvent(ToHandle(&iface), EVENT_ERROR), GC_ERR_SUCCESS);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), GC_ERR_ABORT);
}

TEST_F(EventExportsInProcess, EventOfAModuleNoLongerOpenIsRefused) {
    CLibraryController::Instance().TakeInterface(ToHandle(&iface));
    EXPECT_EQ(EventFlush(hEvent), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(LastError().second, "Specified pEvent is invalid: pEvent = " + Hex(hEvent) + ".");
    // The interface entry check comes first where it applies.
    size_t size = 0;
    EXPECT_EQ(EventGetData(hEvent, nullptr, &size, 0), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(LastError().second, "GC_ERR_INVALID_HANDLE");
}

TEST_F(EventExportsInProcess, UnregisterDropsTheHandleFromTheRegistry) {
    EXPECT_TRUE(CLibraryController::Instance().FindEvent(hEvent, nullptr));
    ASSERT_EQ(GCUnregisterEvent(ToHandle(&iface), EVENT_ERROR), GC_ERR_SUCCESS);
    EXPECT_FALSE(CLibraryController::Instance().FindEvent(hEvent, nullptr));
    EXPECT_EQ(GCUnregisterEvent(ToHandle(&iface), EVENT_ERROR), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(LastError().second, "Event not yet registered");
}

}  // namespace
}  // namespace GenTL
