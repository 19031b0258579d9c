// The export boundary, the last-error record and the info-copy routines.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "Boundary.h"
#include "CriticalSection.h"
#include "InfoCopy.h"
#include "LastError.h"

using namespace GenTL;

namespace {

std::pair<GC_ERROR, std::string> Record() {
    GC_ERROR code = 0;
    std::string text;
    EXPECT_TRUE(ReadLastError(&code, &text));
    return {code, text};
}

TEST(Boundary, RuntimeErrorsAreMappedByTheirTextInTableOrder) {
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, MapRuntimeError("Invalid Memory Buffer"));
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, MapRuntimeError("Unable to find Invalid thing"));
    EXPECT_EQ(GC_ERR_NOT_IMPLEMENTED, MapRuntimeError("feature not implemented"));
    EXPECT_EQ(GC_ERR_INVALID_ID, MapRuntimeError("Unable to find device  x"));
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE, MapRuntimeError("Device already open"));
    EXPECT_EQ(GC_ERR_NOT_AVAILABLE, MapRuntimeError("Device not available"));
    EXPECT_EQ(GC_ERR_ACCESS_DENIED, MapRuntimeError("Device access denied"));
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE, MapRuntimeError("Data stream already open"));
    EXPECT_EQ(GC_ERR_ERROR, MapRuntimeError("Unable to start acquisition"));
    EXPECT_EQ(GC_ERR_ERROR, MapRuntimeError("invalid"));  // case-sensitive
}

TEST(Boundary, EachExceptionKindBecomesItsCodeAndRecord) {
    EXPECT_EQ(GC_ERR_ERROR, RunExport([]() -> GC_ERROR { throw std::out_of_range("range"); }));
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_ERROR), std::string("range")), Record());
    EXPECT_EQ(GC_ERR_INVALID_HANDLE,
              RunExport([]() -> GC_ERROR { throw std::runtime_error("Invalid module name."); }));
    EXPECT_EQ("Invalid module name.", Record().second);
    EXPECT_EQ(GC_ERR_ERROR, RunExport([]() -> GC_ERROR { throw std::invalid_argument("arg"); }));
    EXPECT_EQ(GC_ERR_BUSY, RunExport([]() -> GC_ERROR { throw busy_exception("busy"); }));
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_BUSY), std::string("busy")), Record());
    EXPECT_EQ(GC_ERR_ACCESS_DENIED, RunExport([]() -> GC_ERROR { throw access_exception("a"); }));
    EXPECT_EQ(GC_ERR_ACCESS_DENIED,
              RunExport([]() -> GC_ERROR { throw access_denied_exception("b"); }));
    EXPECT_EQ(GC_ERR_SUCCESS, RunExport([]() -> GC_ERROR { return GC_ERR_SUCCESS; }));
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_SUCCESS), std::string("GC_ERR_SUCCESS")), Record());
}

TEST(Boundary, OtherExceptionsDependOnTheExport) {
    RecordLastError(GC_ERR_TIMEOUT, "before");
    EXPECT_EQ(GC_ERR_ERROR, RunExport([]() -> GC_ERROR { throw std::bad_alloc(); }));
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_TIMEOUT), std::string("before")), Record());
    EXPECT_EQ(GC_ERR_ERROR, RunExport([]() -> GC_ERROR { throw 42; }));
    EXPECT_EQ("before", Record().second);

    BoundaryOptions port;
    port.kind = BoundaryOptions::Kind::Port;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, RunExport(port, []() -> GC_ERROR { throw std::bad_cast(); }));
    EXPECT_EQ(std::string(std::bad_cast().what()), Record().second);

    BoundaryOptions open;
    open.kind = BoundaryOptions::Kind::OpenDevice;
    EXPECT_EQ(GC_ERR_ERROR, RunExport(open, []() -> GC_ERROR { throw std::bad_alloc(); }));
    EXPECT_EQ(GC_ERR_ERROR, Record().first);

    BoundaryOptions fixed;
    fixed.unknownText = "GPF in TLOpen";
    EXPECT_EQ(GC_ERR_ERROR, RunExport(fixed, []() -> GC_ERROR { throw 1; }));
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_ERROR), std::string("GPF in TLOpen")), Record());
}

TEST(Boundary, SuccessIsNotRecordedWhereTheExportSaysSo) {
    RecordLastError(GC_ERR_NO_DATA, "kept");
    BoundaryOptions silent;
    silent.recordSuccess = false;
    EXPECT_EQ(GC_ERR_SUCCESS, RunExport(silent, []() -> GC_ERROR { return GC_ERR_SUCCESS; }));
    EXPECT_EQ("kept", Record().second);
    // A failure code returned without an exception records nothing either.
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE,
              RunExport([]() -> GC_ERROR { return GC_ERR_RESOURCE_IN_USE; }));
    EXPECT_EQ("kept", Record().second);
}

TEST(LastError, DiscardedRecordReadsAsAbsentAndIsRecreated) {
    DiscardLastError();
    GC_ERROR code = 0;
    std::string text;
    EXPECT_FALSE(ReadLastError(&code, &text));
    RecordLastError(GC_ERR_ABORT, "again");
    EXPECT_EQ(std::make_pair(GC_ERROR(GC_ERR_ABORT), std::string("again")), Record());
}

TEST(LastError, ConcurrentRecordingsAndReadsStayWhole) {
    const std::string a(200, 'a'), b(300, 'b');
    RecordLastError(1, a);
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) RecordLastError(i % 2 ? 1 : 2, i % 2 ? a : b);
    });
    for (int i = 0; i < 20000; ++i) {
        const auto record = Record();
        const bool whole =
            (record.first == 1 && record.second == a) || (record.first == 2 && record.second == b);
        if (!whole) {
            ADD_FAILURE() << "torn record: " << record.first << " " << record.second.size();
            break;
        }
    }
    writer.join();
}

TEST(InfoCopy, SizeQueryTooSmallAndExactBuffers) {
    INFO_DATATYPE type = 0;
    size_t size = 0;
    CopyInfoString(&type, nullptr, &size, "abc");
    EXPECT_EQ(INFO_DATATYPE_STRING, type);
    EXPECT_EQ(4u, size);

    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    size = 3;
    try {
        CopyInfoString(&type, buffer, &size, "abc");
        FAIL() << "no exception";
    } catch (const buffer_too_small_exception& e) {
        EXPECT_STREQ("Prepared buffer is too small. Required: 4. Prepared: 3.", e.what());
    }
    EXPECT_EQ('#', buffer[0]);

    size = 8;  // larger is fine; only the needed bytes are written
    CopyInfoString(&type, buffer, &size, "abc");
    EXPECT_EQ(4u, size);
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ('#', buffer[4]);

    // A zero size with a buffer is not refused here: the exports check that first.
    size = 0;
    CopyInfoInt32(&type, buffer, &size, -5);
    EXPECT_EQ(INFO_DATATYPE_INT32, type);
    EXPECT_EQ(4u, size);

    EXPECT_THROW(CopyInfoRaw(&type, buffer, nullptr, INFO_DATATYPE_UINT64, buffer, 8),
                 invalid_parameter_exception);
    EXPECT_EQ(INFO_DATATYPE_UINT64, type);  // the type is written first
}

TEST(InfoCopy, ArgumentChecksInTheirOrder) {
    INFO_DATATYPE type = 0;
    char buffer[4] = {};
    size_t zero = 0;
    try {
        CheckInfoArguments(nullptr, buffer, nullptr);
        FAIL();
    } catch (const invalid_parameter_exception& e) {
        EXPECT_STREQ("Specified piSize is invalid: piSize = 0x0000000000000000.", e.what());
    }
    try {
        CheckInfoArguments(nullptr, buffer, &zero);
        FAIL();
    } catch (const invalid_parameter_exception& e) {
        EXPECT_EQ(0u,
                  std::string(e.what()).find("Specified piSize is invalid even though pBuffer"));
    }
    size_t four = 4;
    EXPECT_THROW(CheckInfoArguments(nullptr, buffer, &four), invalid_parameter_exception);
    EXPECT_NO_THROW(CheckInfoArguments(&type, nullptr, &zero));
}

TEST(CriticalSection, RecursiveAndTryLockFromAnotherThread) {
    CCriticalSection lock;
    CAutoLock outer(lock);
    {
        CAutoLock inner(lock);  // recursive on the same thread
        EXPECT_TRUE(inner.IsLocked());
    }
    bool otherGotIt = true;
    std::thread([&] {
        CAutoLock attempt(lock, false);
        otherGotIt = attempt.IsLocked();
    }).join();
    EXPECT_FALSE(otherGotIt);
}

}  // namespace
