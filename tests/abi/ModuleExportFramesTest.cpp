// The entry frames of the interface, device, data stream and buffer
// information exports through the built library: entry checks, argument
// checks in their order with their texts, and handle lookups that reject
// unknown pointers without touching them.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CtiLibrary.h"

using namespace GenTL;
using TestSupport::CtiLibrary;

namespace {

// A pointer as the producer prints it: "0x" and 16 upper-case hex digits.
std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016" PRIX64,
                  static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

const std::string kNull = "0x0000000000000000";

struct ExportCall {
    std::string name;
    std::function<GC_ERROR()> call;
};

class ModuleExportFrames : public ::testing::Test {
protected:
    void TearDown() override { cti.GCCloseLib(); }

    // Pointers that are not handles of the kind asked for: a stack word, a
    // zeroed heap block and an address no object can have.
    std::vector<void*> Garbage() { return {&stackWord, heapBlock.get(), Bogus()}; }
    static void* Bogus() { return reinterpret_cast<void*>(uintptr_t{1}); }

    // Overwrites the record with a known success so that every later text
    // is proven to come from the call under test.
    void ResetRecord() {
        INFO_DATATYPE type = 0;
        size_t size = 0;
        ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetInfo(TL_INFO_VENDOR, &type, nullptr, &size));
        ASSERT_EQ("GC_ERR_SUCCESS", cti.LastErrorText());
    }

    // Runs `call` on a fresh record and returns (result, recorded code, text).
    std::pair<GC_ERROR, std::pair<GC_ERROR, std::string>> Run(
        const std::function<GC_ERROR()>& call) {
        ResetRecord();
        const GC_ERROR result = call();
        return {result, cti.LastError()};
    }

    void ExpectFailure(GC_ERROR code, const std::string& text,
                       const std::function<GC_ERROR()>& call, const std::string& what) {
        const auto outcome = Run(call);
        EXPECT_EQ(code, outcome.first) << what;
        EXPECT_EQ(code, outcome.second.first) << what;
        EXPECT_EQ(text, outcome.second.second) << what;
    }

    // Every export of these families with arguments that pass all argument
    // checks, so that only the entry check (or a handle lookup) can refuse.
    std::vector<ExportCall> SystemCheckCalls(void* h = Bogus()) {
        return {
            {"IFGetInfo", [=] { return cti.IFGetInfo(h, INTERFACE_INFO_ID, &type, text, &size); }},
            {"IFGetDeviceID", [=] { return cti.IFGetDeviceID(h, 0, text, &size); }},
            {"IFUpdateDeviceList", [=] { return cti.IFUpdateDeviceList(h, &changed, 0); }},
            {"IFGetDeviceInfo",
             [=] { return cti.IFGetDeviceInfo(h, "id", DEVICE_INFO_ID, &type, text, &size); }},
            {"IFGetParentTL", [=] { return cti.IFGetParentTL(h, &handleOut); }},
            {"DevGetParentIF", [=] { return cti.DevGetParentIF(h, &handleOut); }},
            {"DSStartAcquisition", [=] { return cti.DSStartAcquisition(h, 0, 1); }},
            {"DSStopAcquisition", [=] { return cti.DSStopAcquisition(h, 0); }},
            {"DSGetParentDev", [=] { return cti.DSGetParentDev(h, &handleOut); }},
            {"DSAnnounceBuffer",
             [=] { return cti.DSAnnounceBuffer(h, text, sizeof text, nullptr, &handleOut); }},
            {"DSAllocAndAnnounceBuffer",
             [=] { return cti.DSAllocAndAnnounceBuffer(h, 16, nullptr, &handleOut); }},
            {"DSAnnounceCompositeBuffer",
             [=] {
                 return cti.DSAnnounceCompositeBuffer(h, 1, segments, segmentSizes, nullptr,
                                                      &handleOut);
             }},
        };
    }

    std::vector<ExportCall> InterfaceCheckCalls(void* h = Bogus()) {
        return {
            {"IFClose", [=] { return cti.IFClose(h); }},
            {"IFOpenDevice",
             [=] { return cti.IFOpenDevice(h, "id", DEVICE_ACCESS_CONTROL, &handleOut); }},
            {"DevGetPort", [=] { return cti.DevGetPort(h, &handleOut); }},
            {"DevGetNumDataStreams", [=] { return cti.DevGetNumDataStreams(h, &count); }},
            {"DevGetDataStreamID", [=] { return cti.DevGetDataStreamID(h, 0, text, &size); }},
            {"DevOpenDataStream", [=] { return cti.DevOpenDataStream(h, "DS0", &handleOut); }},
            {"DevGetInfo", [=] { return cti.DevGetInfo(h, DEVICE_INFO_ID, &type, text, &size); }},
            {"DevClose", [=] { return cti.DevClose(h); }},
            {"DSFlushQueue", [=] { return cti.DSFlushQueue(h, ACQ_QUEUE_ALL_DISCARD); }},
            {"DSGetInfo", [=] { return cti.DSGetInfo(h, STREAM_INFO_ID, &type, text, &size); }},
            {"DSGetBufferID", [=] { return cti.DSGetBufferID(h, 0, &handleOut); }},
            {"DSClose", [=] { return cti.DSClose(h); }},
            {"DSRevokeBuffer", [=] { return cti.DSRevokeBuffer(h, h, nullptr, nullptr); }},
            {"DSQueueBuffer", [=] { return cti.DSQueueBuffer(h, h); }},
            {"DSGetBufferInfo",
             [=] { return cti.DSGetBufferInfo(h, h, BUFFER_INFO_SIZE, &type, text, &size); }},
            {"DSGetBufferInfoStacked",
             [=] { return cti.DSGetBufferInfoStacked(h, h, stacked, 1); }},
            {"DSGetNumFlows", [=] { return cti.DSGetNumFlows(h, &count); }},
            {"DSGetFlowInfo",
             [=] { return cti.DSGetFlowInfo(h, 0, FLOW_INFO_SIZE, &type, text, &size); }},
            {"DSGetNumBufferSegments", [=] { return cti.DSGetNumBufferSegments(h, h, &count); }},
            {"DSGetBufferSegmentInfo",
             [=] {
                 return cti.DSGetBufferSegmentInfo(h, h, 0, SEGMENT_INFO_SIZE, &type, text, &size);
             }},
            {"DSGetNumBufferParts", [=] { return cti.DSGetNumBufferParts(h, h, &count); }},
            {"DSGetBufferPartInfo",
             [=] {
                 return cti.DSGetBufferPartInfo(h, h, 0, BUFFER_PART_INFO_DATA_SIZE, &type, text,
                                                &size);
             }},
            {"DSGetBufferPartInfoStacked",
             [=] { return cti.DSGetBufferPartInfoStacked(h, h, partStacked, 1); }},
        };
    }

    CtiLibrary cti;
    uint64_t stackWord = 0;
    std::unique_ptr<uint64_t[]> heapBlock = std::make_unique<uint64_t[]>(64);

    // Out-arguments of the calls above; the lambdas capture `this`.
    INFO_DATATYPE type = 0;
    char text[64] = {};
    size_t size = sizeof text;
    bool8_t changed = 0;
    uint32_t count = 0;
    void* handleOut = nullptr;
    void* segments[1] = {text};
    size_t segmentSizes[1] = {sizeof text};
    DS_BUFFER_INFO_STACKED stacked[1] = {{BUFFER_INFO_SIZE, 0, text, sizeof text, 0}};
    DS_BUFFER_PART_INFO_STACKED partStacked[1] = {
        {0, BUFFER_PART_INFO_DATA_SIZE, 0, text, sizeof text, 0}};
};

class ModuleExportFramesInitialised : public ModuleExportFrames {
protected:
    void SetUp() override { ASSERT_EQ(GC_ERR_SUCCESS, cti.GCInitLib()); }
};

class ModuleExportFramesSystemOpen : public ModuleExportFrames {
protected:
    void SetUp() override {
        ASSERT_EQ(GC_ERR_SUCCESS, cti.GCInitLib());
        ASSERT_EQ(GC_ERR_SUCCESS, cti.TLOpen(&system));
        ASSERT_NE(nullptr, system);
    }

    TL_HANDLE system = nullptr;
};

// ---- Before GCInitLib ------------------------------------------------------

TEST_F(ModuleExportFrames, EveryCheckedExportRefusesWorkBeforeInit) {
    for (const ExportCall& entry : SystemCheckCalls()) {
        EXPECT_EQ(GC_ERR_NOT_INITIALIZED, entry.call()) << entry.name;
    }
    for (const ExportCall& entry : InterfaceCheckCalls()) {
        EXPECT_EQ(GC_ERR_NOT_INITIALIZED, entry.call()) << entry.name;
    }
    // IFGetNumDevices only needs an initialised library, and is refused too.
    EXPECT_EQ(GC_ERR_NOT_INITIALIZED, cti.IFGetNumDevices(Bogus(), &count));
    EXPECT_EQ(nullptr, handleOut);
}

TEST_F(ModuleExportFrames, ChunkDataHasNoEntryCheck) {
    // Chunk data runs its handle checks even before GCInitLib.
    size_t chunks = 0;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.DSGetBufferChunkData(nullptr, nullptr, nullptr, &chunks));
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.DSGetBufferChunkData(Bogus(), Bogus(), nullptr, &chunks));
}

// ---- Initialised, no system module ------------------------------------------

TEST_F(ModuleExportFramesInitialised, SystemAndInterfaceChecksFailWithoutSystemModule) {
    for (const ExportCall& entry : SystemCheckCalls()) {
        ExpectFailure(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE", entry.call, entry.name);
    }
    for (const ExportCall& entry : InterfaceCheckCalls()) {
        ExpectFailure(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE", entry.call, entry.name);
    }
    EXPECT_EQ(nullptr, handleOut);
}

TEST_F(ModuleExportFramesInitialised, GetNumDevicesChecksHandleThenPointerThenRegistry) {
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hIface is invalid: hIface = " + kNull + ".",
        [&] { return cti.IFGetNumDevices(nullptr, nullptr); }, "null handle first");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER,
        "Specified piNumDevices is invalid: piNumDevices = " + kNull + ".",
        [&] { return cti.IFGetNumDevices(Bogus(), nullptr); }, "null pointer");
    for (void* h : Garbage()) {
        count = 77;
        ExpectFailure(
            GC_ERR_INVALID_HANDLE, "The specified interface not found: hIface = " + Hex(h) + ".",
            [&] { return cti.IFGetNumDevices(h, &count); }, Hex(h));
        EXPECT_EQ(77u, count);
    }
}

TEST_F(ModuleExportFramesInitialised, ChunkDataChecksTheStreamFirst) {
    size_t chunks = 5;
    SINGLE_CHUNK_DATA chunk = {};
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hDataStream is invalid: hDataStream = " + kNull + ".",
        [&] { return cti.DSGetBufferChunkData(nullptr, nullptr, nullptr, nullptr); },
        "null stream");
    for (void* h : Garbage()) {
        ExpectFailure(
            GC_ERR_INVALID_HANDLE,
            "The specified data stream hDataStream not found: hDataStream = " + Hex(h) + ".",
            [&] { return cti.DSGetBufferChunkData(h, nullptr, &chunk, &chunks); }, Hex(h));
    }
    EXPECT_EQ(5u, chunks);
}

// ---- System module open, no interface ---------------------------------------

TEST_F(ModuleExportFramesSystemOpen, InterfaceCheckFailsWithoutAnOpenInterface) {
    for (const ExportCall& entry : InterfaceCheckCalls()) {
        ExpectFailure(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE", entry.call, entry.name);
    }
    EXPECT_EQ(nullptr, handleOut);
}

TEST_F(ModuleExportFramesSystemOpen, SystemCheckExportsRejectGarbageHandles) {
    // The system handle is a live module of another kind: it must be refused
    // like any other pointer that is not registered as the handle asked for.
    std::vector<void*> handles = Garbage();
    handles.push_back(system);
    for (void* h : handles) {
        const std::string p = Hex(h);
        const std::string ifaceNotFound = "The specified interface not found: hIface = " + p + ".";
        const std::string streamNotFound =
            "The specified data stream hDataStream not found: hDataStream = " + p + ".";
        for (const ExportCall& entry : SystemCheckCalls(h)) {
            const std::string& name = entry.name;
            if (name == "IFGetParentTL") continue;  // No record: its own test.
            std::string expected = streamNotFound;
            if (name.rfind("IF", 0) == 0) expected = ifaceNotFound;
            if (name == "DevGetParentIF") expected = "Specified hDevice is invalid.";
            ExpectFailure(GC_ERR_INVALID_HANDLE, expected, entry.call, name + " " + p);
        }
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, Run([&] { return cti.IFGetNumDevices(h, &count); }).first);
        EXPECT_EQ(ifaceNotFound, cti.LastErrorText());
    }
    EXPECT_EQ(nullptr, handleOut);
}

TEST_F(ModuleExportFramesSystemOpen, InterfaceInfoChecksPiSizeBeforeTheHandle) {
    const std::string sizeText = "Specified piSize is invalid: piSize = " + kNull + ".";
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, sizeText,
        [&] { return cti.IFGetInfo(nullptr, INTERFACE_INFO_ID, &type, text, nullptr); },
        "piSize first");
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hIface is invalid: hIface = " + kNull + ".",
        [&] { return cti.IFGetInfo(nullptr, INTERFACE_INFO_ID, nullptr, text, &size); },
        "then the handle");
    size_t zero = 0;
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER,
        "Specified piSize is invalid even though pBuffer is present: piSize = " + Hex(&zero) +
            ", *piSize = 0, pBuffer = " + Hex(text) + ".",
        [&] { return cti.IFGetInfo(Bogus(), INTERFACE_INFO_ID, nullptr, text, &zero); },
        "then a buffer with a zero size");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified piType is invalid: piType = " + kNull + ".",
        [&] { return cti.IFGetInfo(Bogus(), INTERFACE_INFO_ID, nullptr, text, &size); },
        "then piType");
    // A size query with no buffer passes the argument checks.
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "The specified interface not found: hIface = " + Hex(Bogus()) + ".",
        [&] { return cti.IFGetInfo(Bogus(), INTERFACE_INFO_ID, &type, nullptr, &zero); },
        "then the registry");
}

TEST_F(ModuleExportFramesSystemOpen, InterfaceDeviceIDAndDeviceInfoCheckOrder) {
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hIface is invalid: hIface = " + kNull + ".",
        [&] { return cti.IFGetDeviceID(nullptr, 0, nullptr, nullptr); }, "ID handle");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified piSize is invalid: piSize = " + kNull + ".",
        [&] { return cti.IFGetDeviceID(Bogus(), 0, text, nullptr); }, "ID piSize");
    size_t zero = 0;
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER,
        "Specified piSize is invalid even though sDeviceID is present: piSize = " + Hex(&zero) +
            ", *piSize = 0, sDeviceID = " + Hex(text) + ".",
        [&] { return cti.IFGetDeviceID(Bogus(), 0, text, &zero); }, "ID zero size");

    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hIface is invalid: hIface = " + kNull + ".",
        [&] { return cti.IFGetDeviceInfo(nullptr, nullptr, 0, nullptr, nullptr, nullptr); },
        "info handle");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified sDeviceID is invalid: sDeviceID = " + kNull + ".",
        [&] { return cti.IFGetDeviceInfo(Bogus(), nullptr, 0, nullptr, nullptr, nullptr); },
        "info sDeviceID");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified piType is invalid: piType = " + kNull + ".",
        [&] { return cti.IFGetDeviceInfo(Bogus(), "id", 0, nullptr, text, nullptr); },
        "info piType before piSize");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified piSize is invalid: piSize = " + kNull + ".",
        [&] { return cti.IFGetDeviceInfo(Bogus(), "id", 0, &type, text, nullptr); }, "info piSize");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER,
        "Specified piSize is invalid even though pBuffer is present: piSize = " + Hex(&zero) +
            ", *piSize = 0, pBuffer = " + Hex(text) + ".",
        [&] { return cti.IFGetDeviceInfo(Bogus(), "id", 0, &type, text, &zero); },
        "info zero size");
}

TEST_F(ModuleExportFramesSystemOpen, UpdateDeviceListChecksTheHandle) {
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hIface is invalid: hIface = " + kNull + ".",
        [&] { return cti.IFUpdateDeviceList(nullptr, &changed, 100); }, "null handle");
    // pbChanged is optional: with it null the registry is what refuses.
    ExpectFailure(
        GC_ERR_INVALID_HANDLE,
        "The specified interface not found: hIface = " + Hex(&stackWord) + ".",
        [&] { return cti.IFUpdateDeviceList(&stackWord, nullptr, GENTL_INFINITE); },
        "optional pbChanged");
}

TEST_F(ModuleExportFramesSystemOpen, GetParentTLFailsWithoutRecording) {
    // A distinctive record that the refusals below must leave in place.
    ASSERT_EQ(GC_ERR_INVALID_HANDLE, cti.IFGetNumDevices(nullptr, &count));
    const auto before = cti.LastError();
    ASSERT_EQ("Specified hIface is invalid: hIface = " + kNull + ".", before.second);

    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.IFGetParentTL(nullptr, nullptr));
    EXPECT_EQ(before, cti.LastError());
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.IFGetParentTL(Bogus(), nullptr));
    EXPECT_EQ(before, cti.LastError());
    std::vector<void*> handles = Garbage();
    handles.push_back(system);
    handles.push_back(nullptr);
    for (void* h : handles) {
        TL_HANDLE parent = &stackWord;
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.IFGetParentTL(h, &parent)) << Hex(h);
        EXPECT_EQ(before, cti.LastError()) << Hex(h);
        EXPECT_EQ(static_cast<void*>(&stackWord), parent);
    }
}

TEST_F(ModuleExportFramesSystemOpen, GetParentIFAndParentDevCheckOrder) {
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hDevice is invalid: hDevice = " + kNull + ".",
        [&] { return cti.DevGetParentIF(nullptr, nullptr); }, "device handle");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified phIface is invalid: phIface = " + kNull + ".",
        [&] { return cti.DevGetParentIF(Bogus(), nullptr); }, "phIface");
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, "Specified hDataStream is invalid: hDataStream = " + kNull + ".",
        [&] { return cti.DSGetParentDev(nullptr, nullptr); }, "stream handle");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified phDevice is invalid: phDevice = " + kNull + ".",
        [&] { return cti.DSGetParentDev(Bogus(), nullptr); }, "phDevice");
}

TEST_F(ModuleExportFramesSystemOpen, AcquisitionStartAndStopCheckOrder) {
    const std::string nullStream = "Specified hDataStream is invalid: hDataStream = " + kNull + ".";
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, nullStream, [&] { return cti.DSStartAcquisition(nullptr, 7, 0); },
        "start handle first");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iNumFramesToAcquire is invalid.",
        [&] { return cti.DSStartAcquisition(Bogus(), 7, 0); }, "start count");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iStartFlags is invalid.",
        [&] { return cti.DSStartAcquisition(Bogus(), 7, 1); }, "start flags");

    ExpectFailure(
        GC_ERR_INVALID_HANDLE, nullStream, [&] { return cti.DSStopAcquisition(nullptr, 2); },
        "stop handle first");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iStopFlag is invalid: iStopFlag = 0x0000000000000002.",
        [&] { return cti.DSStopAcquisition(Bogus(), 2); }, "stop flags 2");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iStopFlag is invalid: iStopFlag = 0x00000000000003E8.",
        [&] { return cti.DSStopAcquisition(Bogus(), ACQ_STOP_FLAGS_CUSTOM_ID); },
        "stop flags custom");
}

TEST_F(ModuleExportFramesSystemOpen, AnnounceChecksOutPointerBeforeTheStream) {
    const std::string nullStream = "Specified hDataStream is invalid: hDataStream = " + kNull + ".";
    const std::string nullOut = "Specified hBuffer is invalid: hBuffer = " + kNull + ".";
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, nullOut,
        [&] { return cti.DSAnnounceBuffer(nullptr, nullptr, 0, nullptr, nullptr); },
        "announce phBuffer first");
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, nullStream,
        [&] { return cti.DSAnnounceBuffer(nullptr, nullptr, 0, nullptr, &handleOut); },
        "announce stream");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iSize is 0.",
        [&] { return cti.DSAnnounceBuffer(Bogus(), nullptr, 0, nullptr, &handleOut); },
        "announce size");

    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, nullOut,
        [&] { return cti.DSAllocAndAnnounceBuffer(nullptr, 0, nullptr, nullptr); },
        "alloc phBuffer first");
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, nullStream,
        [&] { return cti.DSAllocAndAnnounceBuffer(nullptr, 0, nullptr, &handleOut); },
        "alloc stream");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iSize is 0.",
        [&] { return cti.DSAllocAndAnnounceBuffer(Bogus(), 0, nullptr, &handleOut); },
        "alloc size");

    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified phBuffer is invalid: phBuffer = " + kNull + ".",
        [&] {
            return cti.DSAnnounceCompositeBuffer(nullptr, 0, nullptr, nullptr, nullptr, nullptr);
        },
        "composite phBuffer first");
    ExpectFailure(
        GC_ERR_INVALID_HANDLE, nullStream,
        [&] {
            return cti.DSAnnounceCompositeBuffer(nullptr, 0, nullptr, nullptr, nullptr, &handleOut);
        },
        "composite stream");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified iNumSegments is 0.",
        [&] {
            return cti.DSAnnounceCompositeBuffer(Bogus(), 0, nullptr, nullptr, nullptr, &handleOut);
        },
        "composite count");
    ExpectFailure(
        GC_ERR_INVALID_PARAMETER, "Specified piSizes is invalid: piSizes = " + kNull + ".",
        [&] {
            return cti.DSAnnounceCompositeBuffer(Bogus(), 1, nullptr, nullptr, nullptr, &handleOut);
        },
        "composite sizes");
    // A null ppSegments is the module's concern, after the stream lookup.
    ExpectFailure(
        GC_ERR_INVALID_HANDLE,
        "The specified data stream hDataStream not found: hDataStream = " + Hex(Bogus()) + ".",
        [&] {
            return cti.DSAnnounceCompositeBuffer(Bogus(), 1, nullptr, segmentSizes, nullptr,
                                                 &handleOut);
        },
        "composite ppSegments");
    EXPECT_EQ(nullptr, handleOut);
}

TEST_F(ModuleExportFramesSystemOpen, ChunkDataAfterTLOpen) {
    size_t chunks = 0;
    ExpectFailure(
        GC_ERR_INVALID_HANDLE,
        "The specified data stream hDataStream not found: hDataStream = " + Hex(system) + ".",
        [&] { return cti.DSGetBufferChunkData(system, system, nullptr, &chunks); },
        "system handle as stream");
}

}  // namespace
