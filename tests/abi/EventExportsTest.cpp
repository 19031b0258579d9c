// The event exports through the built library, as a consumer calls them:
// entry checks, registering the system module's error event, and handles
// that are no event or event source of the library.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "CtiLibrary.h"

namespace {

using namespace GenTL;

std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

std::pair<GC_ERROR, std::string> Error(GC_ERROR code, const std::string& text) {
    return {code, text};
}

class EventExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(lib.GCInitLib(), GC_ERR_SUCCESS); }
    void TearDown() override { lib.GCCloseLib(); }

    void OpenSystem() { ASSERT_EQ(lib.TLOpen(&hSystem), GC_ERR_SUCCESS); }

    // The address of something that is no module or event of the library.
    static void* FreedPointer() {
        auto block = std::make_unique<int[]>(16);
        // Kept as a number: it is only ever compared, never dereferenced.
        volatile uintptr_t value = reinterpret_cast<uintptr_t>(block.get());
        block.reset();
        return reinterpret_cast<void*>(value);
    }

    TestSupport::CtiLibrary lib;
    TL_HANDLE hSystem = nullptr;
};

TEST(EventExportsUninitialised, EveryExportRefusesBeforeGCInitLib) {
    TestSupport::CtiLibrary lib;
    int local = 0;
    EVENT_HANDLE hEvent = nullptr;
    size_t size = 0;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    EXPECT_EQ(lib.GCRegisterEvent(&local, EVENT_ERROR, &hEvent), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.GCUnregisterEvent(&local, EVENT_ERROR), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.EventGetData(&local, nullptr, &size, 0), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.EventGetDataInfo(&local, &local, 4, EVENT_DATA_ID, &type, nullptr, &size),
              GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.EventGetInfo(&local, EVENT_EVENT_TYPE, &type, nullptr, &size),
              GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.EventFlush(&local), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.EventKill(&local), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(hEvent, nullptr);
}

TEST_F(EventExportsTest, WithoutASystemModuleTheSystemCheckFails) {
    int local = 0;
    EVENT_HANDLE hEvent = nullptr;
    EXPECT_EQ(lib.GCRegisterEvent(&local, EVENT_ERROR, &hEvent), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE"));
    EXPECT_EQ(lib.GCUnregisterEvent(&local, EVENT_ERROR), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.EventFlush(&local), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.EventKill(&local), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE"));
}

TEST_F(EventExportsTest, RegistersTheSystemErrorEventOnce) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    EXPECT_NE(hEvent, nullptr);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_SUCCESS, "GC_ERR_SUCCESS"));

    EVENT_HANDLE again = nullptr;
    EXPECT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &again), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_RESOURCE_IN_USE, "Event already registered"));
    EXPECT_EQ(again, nullptr);

    // Unregistered, it can be registered again and is the same object.
    ASSERT_EQ(lib.GCUnregisterEvent(hSystem, EVENT_ERROR), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_SUCCESS, "GC_ERR_SUCCESS"));
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &again), GC_ERR_SUCCESS);
    EXPECT_EQ(again, hEvent);
}

TEST_F(EventExportsTest, UnregisteringTwiceFails) {
    OpenSystem();
    EXPECT_EQ(lib.GCUnregisterEvent(hSystem, EVENT_ERROR), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_NOT_INITIALIZED, "Event not yet registered"));
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    ASSERT_EQ(lib.GCUnregisterEvent(hSystem, EVENT_ERROR), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.GCUnregisterEvent(hSystem, EVENT_ERROR), GC_ERR_NOT_INITIALIZED);
    // The handle went with the registration.
    EXPECT_EQ(lib.EventFlush(hEvent), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE,
                                     "Specified pEvent is invalid: pEvent = " + Hex(hEvent) + "."));
}

TEST_F(EventExportsTest, OtherEventTypesOnTheSystemModuleFail) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    EXPECT_EQ(lib.GCRegisterEvent(hSystem, EVENT_NEW_BUFFER, &hEvent), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_NOT_IMPLEMENTED,
                                     "Requested event type not implemented for given module."));
    EXPECT_EQ(lib.GCUnregisterEvent(hSystem, EVENT_NEW_BUFFER), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(lib.LastErrorText(), "Requested event type not implemented for given module.");

    // The system module itself refuses the types it does not raise.
    EXPECT_EQ(lib.GCRegisterEvent(hSystem, EVENT_REMOTE_DEVICE, &hEvent), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(lib.LastErrorText(), "Requested iID is not implemented; iID = 4.");
    EXPECT_EQ(hEvent, nullptr);
}

TEST_F(EventExportsTest, NullArgumentsOfRegisterAndUnregister) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    EXPECT_EQ(lib.GCRegisterEvent(nullptr, EVENT_ERROR, &hEvent), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(),
              Error(GC_ERR_INVALID_HANDLE,
                    "Specified hHandle is invalid: hHandle = 0x" + std::string(16, '0') + "."));
    EXPECT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastError(),
              Error(GC_ERR_INVALID_PARAMETER,
                    "Specified phEvent is invalid: phEvent = 0x" + std::string(16, '0') + "."));
    EXPECT_EQ(lib.GCUnregisterEvent(nullptr, EVENT_ERROR), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified hModule is invalid: hModule = 0x" + std::string(16, '0') + ".");
}

TEST_F(EventExportsTest, GarbageEventSourcesAreRefusedWithoutACrash) {
    OpenSystem();
    int local = 0;
    void* freed = FreedPointer();
    for (void* garbage : {static_cast<void*>(&local), freed, reinterpret_cast<void*>(0x10),
                          static_cast<void*>(&lib)}) {
        SCOPED_TRACE(Hex(garbage));
        EVENT_HANDLE hEvent = nullptr;
        EXPECT_EQ(lib.GCRegisterEvent(garbage, EVENT_ERROR, &hEvent), GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.LastError(),
                  Error(GC_ERR_INVALID_HANDLE,
                        "Specified pEvent is invalid: pEvent = " + Hex(garbage) + "."));
        EXPECT_EQ(hEvent, nullptr);
        EXPECT_EQ(lib.GCRegisterEvent(garbage, EVENT_NEW_BUFFER, &hEvent), GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.GCUnregisterEvent(garbage, EVENT_ERROR), GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.LastErrorText(),
                  "Specified pEventSrc is invalid: pEventSrc = " + Hex(garbage) + ".");
    }
}

TEST_F(EventExportsTest, GarbageEventHandlesAreRefusedWithoutACrash) {
    OpenSystem();
    EVENT_HANDLE hRegistered = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hRegistered), GC_ERR_SUCCESS);
    int local = 0;
    void* freed = FreedPointer();
    // The system module's own handle is an event source, not an event.
    for (void* garbage : {static_cast<void*>(&local), freed, reinterpret_cast<void*>(0x10),
                          static_cast<void*>(hSystem)}) {
        SCOPED_TRACE(Hex(garbage));
        const std::string invalid = "Specified pEvent is invalid: pEvent = " + Hex(garbage) + ".";
        EXPECT_EQ(lib.EventFlush(garbage), GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE, invalid));
        EXPECT_EQ(lib.EventKill(garbage), GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.LastErrorText(), invalid);
        const unsigned char record[8] = {1, 0, 0, 0, 'a', 0, 0, 0};
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        int32_t code = 0;
        size_t size = sizeof code;
        EXPECT_EQ(lib.EventGetDataInfo(garbage, record, sizeof record, EVENT_DATA_ID, &type, &code,
                                       &size),
                  GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.LastErrorText(), invalid);
    }
}

TEST_F(EventExportsTest, WaitAndInfoNeedAnOpenInterface) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    unsigned char data[64];
    size_t size = sizeof data;
    EXPECT_EQ(lib.EventGetData(hEvent, data, &size, 0), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE"));
    EXPECT_EQ(size, sizeof data);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t value = 0;
    size = sizeof value;
    EXPECT_EQ(lib.EventGetInfo(hEvent, EVENT_INFO_DATA_SIZE_MAX, &type, &value, &size),
              GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE"));
    EXPECT_EQ(value, 0u);
}

TEST_F(EventExportsTest, FlushAndKillTheRegisteredErrorEvent) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.EventFlush(hEvent), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_SUCCESS, "GC_ERR_SUCCESS"));
    EXPECT_EQ(lib.EventKill(hEvent), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.LastError(), Error(GC_ERR_SUCCESS, "GC_ERR_SUCCESS"));
    EXPECT_EQ(lib.EventFlush(nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified hEvent is invalid: hEvent = 0x" + std::string(16, '0') + ".");
    EXPECT_EQ(lib.EventKill(nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified hEvent is invalid: hEvent = 0x" + std::string(16, '0') + ".");
}

TEST_F(EventExportsTest, GetDataInfoOfTheErrorEvent) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    // A record as EventGetData hands it out: code, then the text and its NUL.
    const unsigned char record[] = {0xF0, 0xD8, 0xFF, 0xFF, 'l', 'i', 'n', 'k', 0};
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    int32_t code = 0;
    size_t size = sizeof code;
    ASSERT_EQ(
        lib.EventGetDataInfo(hEvent, record, sizeof record, EVENT_DATA_ID, &type, &code, &size),
        GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(code, GC_ERR_CUSTOM_ID);
    char text[16] = {};
    size = sizeof text;
    ASSERT_EQ(
        lib.EventGetDataInfo(hEvent, record, sizeof record, EVENT_DATA_VALUE, &type, text, &size),
        GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_STRING);
    EXPECT_STREQ(text, "link");
    EXPECT_EQ(size, 5u);

    size = sizeof text;
    EXPECT_EQ(
        lib.EventGetDataInfo(hEvent, record, sizeof record, EVENT_DATA_NUMID, &type, text, &size),
        GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(lib.LastErrorText(), "Requested iID is not implemented; iID = 2.");

    // The argument checks, in their order.
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, nullptr, 9, EVENT_DATA_ID, &type, text, &size),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified pInBuffer is invalid: pInBuffer = 0x" + std::string(16, '0') + ".");
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, record, 0, EVENT_DATA_ID, nullptr, text, &size),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(), "Specified iInSize is invalid: iInSize = 0.");
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, record, 9, EVENT_DATA_ID, nullptr, text, nullptr),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified piType is invalid: piType = 0x" + std::string(16, '0') + ".");
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, record, 9, EVENT_DATA_ID, &type, text, nullptr),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified piOutSize is invalid: piOutSize = 0x" + std::string(16, '0') + ".");
    size = 0;
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, record, 9, EVENT_DATA_ID, &type, text, &size),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(),
              "Specified piOutSize is invalid even though pOutBuffer is present: piOutSize = " +
                  Hex(&size) + ", *piOutSize = 0, pOutBuffer = " + Hex(text) + ".");
    // Fewer bytes than the code: refused, nothing read past them.
    size = sizeof code;
    EXPECT_EQ(lib.EventGetDataInfo(hEvent, record, 2, EVENT_DATA_ID, &type, &code, &size),
              GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(lib.LastErrorText(), "Specified iInSize is invalid: iInSize = 2.");
}

TEST_F(EventExportsTest, CloseLibDropsTheRegistrations) {
    OpenSystem();
    EVENT_HANDLE hEvent = nullptr;
    ASSERT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &hEvent), GC_ERR_SUCCESS);
    ASSERT_EQ(lib.GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(lib.GCInitLib(), GC_ERR_SUCCESS);
    hSystem = nullptr;
    OpenSystem();
    EXPECT_EQ(lib.EventFlush(hEvent), GC_ERR_INVALID_HANDLE);
    // A fresh system module's error event starts unregistered.
    EVENT_HANDLE fresh = nullptr;
    EXPECT_EQ(lib.GCRegisterEvent(hSystem, EVENT_ERROR, &fresh), GC_ERR_SUCCESS);
    EXPECT_EQ(lib.EventFlush(fresh), GC_ERR_SUCCESS);
}

}  // namespace
