// The library side of the krvGEVFilter packet filter driver, against the
// double in tests/common/FakeFilterDriver.h: its records, enabling and
// disabling the adapter, and every request of the stream side.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../common/FakeFilterDriver.h"
#include "DebugOutput.h"
#include "FilterDriver.h"

using namespace Vantor;
using FakeFilter::FakeDriverInstall;
namespace FD = Vantor::FilterDriver;

namespace {

constexpr uint8_t kHandle = 9;

std::vector<std::pair<std::string, uint8_t>> g_lines;

void Collect(uint8_t, const char* text, uint8_t level) {
    g_lines.emplace_back(text, level);
}

template <class T>
T Le(const uint8_t* at) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    return value;
}

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t address;
    std::memcpy(&address, bytes, 4);
    return address;
}

// A slot opened for the test alone: no sockets, just the record fields the
// driver path reads.
class FilterDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        DeviceSlot& s = slot();
        s.record.Reset();
        s.record.ownHandle = kHandle;
        s.record.adapterName = "{4D36E972-E325}";
        s.record.logCallback = &Collect;
        s.record.logMask = 0xFF;
        s.inUse = true;
        Platform::SetDebugOutputCapture([this](const std::string& text) { debug.push_back(text); });
        FD::SetAdapterPollInterval(0);
    }
    void TearDown() override {
        slot().record.Reset();
        slot().inUse = false;
        Platform::SetDebugOutputCapture(nullptr);
        Platform::SetDriverDeviceFactory(nullptr);
        FD::SetAdapterPollInterval(FD::kAdapterPollIntervalMs);
    }

    static DeviceSlot& slot() { return *SlotOf(kHandle); }
    static bool Logged(const std::string& text, uint8_t level) {
        for (const auto& line : g_lines)
            if (line.first == text && line.second == level) return true;
        return false;
    }

    std::vector<std::string> debug;
};

// The same with the driver opened and the adapter enabled.
class EnabledDriverTest : public FilterDriverTest {
protected:
    void SetUp() override {
        FilterDriverTest::SetUp();
        ASSERT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
        g_lines.clear();
        fake->calls.clear();
    }
    FakeDriverInstall fake;
};

FD::StartParams SampleParams() {
    FD::StartParams p{};
    p.width = 1280;
    p.height = 1024;
    p.cameraAddress = Address(169, 254, 10, 2);
    p.streamPort = 50000;
    p.controlPort = 50001;
    p.pixelFormat = 0x01080001;
    p.destination = Address(239, 1, 2, 3);
    p.payloadSize = 1310720;
    p.packetDataSize = 8964;
    p.resendEnabled = 1;
    p.resendLimit = 50;
    p.imageTimeoutMs = 3000;
    p.extraPacket = 1;
    return p;
}

}  // namespace

// ---- The records

TEST(FilterDriverRecords, AdapterRecordCarriesTheNameInUtf16AndTheMode) {
    FD::AdapterBytes record = FD::BuildAdapterRecord(FD::AdapterDeviceName("eth0"), 1);
    const std::string expected = "\\DEVICE\\eth0";
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(record[2 * i], expected[i]);
        EXPECT_EQ(record[2 * i + 1], 0);
    }
    EXPECT_EQ(record[2 * expected.size()], 0) << "no terminator counted, rest zero";
    EXPECT_EQ(Le<uint32_t>(&record[512]), 2 * expected.size());
    EXPECT_EQ(Le<uint32_t>(&record[516]), 1u);
    EXPECT_EQ(Le<uint32_t>(&FD::BuildAdapterRecord("x", 2)[516]), 2u);

    // UTF-8 becomes UTF-16 code units, a malformed byte U+FFFD.
    record = FD::BuildAdapterRecord("\xC3\xA9\xF0\x9F\x98\x80\xFF", 0);
    EXPECT_EQ(Le<uint32_t>(&record[512]), 8u);
    EXPECT_EQ(Le<uint16_t>(&record[0]), 0x00E9);
    EXPECT_EQ(Le<uint16_t>(&record[2]), 0xD83D);
    EXPECT_EQ(Le<uint16_t>(&record[4]), 0xDE00);
    EXPECT_EQ(Le<uint16_t>(&record[6]), 0xFFFD);

    // At most 255 characters; a cut never splits a surrogate pair.
    EXPECT_EQ(Le<uint32_t>(&FD::BuildAdapterRecord(std::string(300, 'a'), 1)[512]), 510u);
    std::string pairAtTheCut = std::string(254, 'a') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(Le<uint32_t>(&FD::BuildAdapterRecord(pairAtTheCut, 1)[512]), 508u);
}

TEST(FilterDriverRecords, ImageRecordAndImageInformationOffsets) {
    FD::ImageBytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    FD::ImageRecordData data = FD::ParseImageRecord(bytes);
    EXPECT_EQ(data.info.blockId, 0x0F0E0D0C0B0A0908ull);
    EXPECT_EQ(data.info.timestamp, 0x1716151413121110ull);
    EXPECT_EQ(data.info.pixelFormat, 0x1B1A1918u);
    EXPECT_EQ(data.info.sizeX, 0x1F1E1D1Cu);
    EXPECT_EQ(data.info.sizeY, 0x23222120u);
    EXPECT_EQ(data.info.offsetX, 0x27262524u);
    EXPECT_EQ(data.info.offsetY, 0x2B2A2928u);
    EXPECT_EQ(data.info.paddingX, 0x2D2C);
    EXPECT_EQ(data.info.paddingY, 0x2F2E);
    EXPECT_EQ(data.info.missingPackets, 0x33323130u);
    EXPECT_EQ(data.info.payloadType, 0x3534);
    EXPECT_EQ(data.info.reserved, 0x3736);
    EXPECT_EQ(data.info.chunkDataLength, 0x3B3A3938u);
    EXPECT_EQ(data.info.chunkLayoutId, 0x3F3E3D3Cu);
    EXPECT_EQ(data.requested, 64);
    EXPECT_EQ(data.received, 65);
    EXPECT_EQ(FD::BuildImageRequest(7)[0], 7);
}

TEST(FilterDriverRecords, StatisticsTakeTheDiscardedCountOnlyFromAFullRecord) {
    FD::StatisticsBytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    FD::Statistics full = FD::ParseStatistics(bytes, 40);
    EXPECT_EQ(full.frames, 0x07060504u);
    EXPECT_EQ(full.missingFrames, 0x0B0A0908u);
    EXPECT_EQ(full.lostPackets, 0x0F0E0D0Cu);
    EXPECT_EQ(full.windowFrames, 0x13121110u);
    EXPECT_EQ(full.windowMs, 0x1F1E1D1C1B1A1918ull);
    EXPECT_TRUE(full.haveDiscarded);
    EXPECT_EQ(full.discardedBlocks, 0x23222120u);
    FD::Statistics shorter = FD::ParseStatistics(bytes, 32);
    EXPECT_FALSE(shorter.haveDiscarded);
    EXPECT_EQ(shorter.discardedBlocks, 0u);
    EXPECT_EQ(shorter.frames, full.frames);
}

TEST(FilterDriverRecords, SmallRecords) {
    EXPECT_EQ(FD::BuildSwitchRecord(3, 1), (FD::SwitchBytes{3, 1}));
    EXPECT_EQ(FD::BuildBufferCountRecord(3, 0x1234), (FD::BufferCountBytes{3, 0, 0x34, 0x12}));
    FD::UserBufferBytes announce = FD::BuildAnnounceRecord(3, 0x1122334455667788ull);
    EXPECT_EQ(announce[0], 3);
    EXPECT_EQ(Le<uint64_t>(&announce[8]), 0x1122334455667788ull);
    EXPECT_EQ(Le<uint64_t>(&announce[16]), 0u);
    FD::UserBufferBytes queue = FD::BuildQueueRecord(3, 41);
    EXPECT_EQ(Le<uint64_t>(&queue[8]), 0u);
    EXPECT_EQ(Le<uint64_t>(&queue[16]), 41u);
    EXPECT_EQ(FD::BuildReleaseRecord(3), (FD::UserBufferBytes{3}));
    FD::StartBytes stop = FD::BuildStopRecord(3);
    for (size_t i = 0; i < stop.size(); ++i) EXPECT_EQ(stop[i], i == 32 ? 3 : 0) << i;
    const uint8_t slotAnswer[2] = {0x05, 0x01};
    EXPECT_EQ(FD::ParseSlotNumber(slotAnswer), 0x0105);
}

// ---- Enabling, disabling, version

TEST_F(FilterDriverTest, WithoutADriverInitFailsAndTheSocketPathStays) {
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevDriverNotOpen);
    EXPECT_FALSE(slot().record.filterDriverOpen);
    EXPECT_EQ(slot().record.driverDevice, nullptr);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_TRUE(Logged("[INFO] -GEVInitFilterDriver: Can't open krvGEVFilter driver..", kLogInfo));
    EXPECT_TRUE(
        Logged("[INFO] -GEVInitFilterDriver: Check if driver is installed or you don't "
               "have administrator privileges.",
               kLogInfo));
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0], "[INFO] -GEVInitFilterDriver handle: 0000000000000000\r\n");
}

TEST_F(FilterDriverTest, ClosedHandlesAndUserBuffersAreRefused) {
    FakeDriverInstall fake;
    uint8_t major = 0xAA, minor = 0xAA;
    for (uint8_t handle : {uint8_t{0}, uint8_t{8}, uint8_t{51}}) {
        EXPECT_EQ(GEVInitFilterDriver(handle), kGevHandleNotOpen);
        EXPECT_EQ(GEVDisableFilterDriver(handle), kGevHandleNotOpen);
        EXPECT_EQ(GEVGetFilterDriverVersion(handle, &major, &minor), kGevHandleNotOpen);
    }
    slot().record.userBufferCount = 2;
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevNotSupported);
    EXPECT_EQ(GEVDisableFilterDriver(kHandle), kGevNotSupported);
    EXPECT_EQ(GEVGetFilterDriverVersion(kHandle, &major, &minor), kGevNotSupported);
    ASSERT_EQ(g_lines.size(), 3u);
    for (const auto& line : g_lines) {
        EXPECT_EQ(line.first, "[WARNING] -Filter driver doesn't support user ring buffer.");
        EXPECT_EQ(line.second, kLogWarning);
    }
    EXPECT_TRUE(fake->openedPaths.empty());
    EXPECT_FALSE(slot().record.filterDriverOpen);
}

TEST_F(FilterDriverTest, InitOpensTheDeviceFileEnablesTheAdapterAndWaitsForItsReadyState) {
    FakeDriverInstall fake;
    fake->stateScript = {0, 1, 4, 1};
    EXPECT_EQ(&BackendOf(slot().record), &SocketStreamBackend());
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
    EXPECT_TRUE(slot().record.filterDriverOpen);
    EXPECT_EQ(&BackendOf(slot().record), &DriverStreamBackend());
    ASSERT_EQ(fake->openedPaths, std::vector<std::string>{"\\\\.\\krvGEVFilter"});
    EXPECT_EQ(fake->adapterModes, std::vector<uint32_t>{1});
    EXPECT_EQ(fake->adapterName, u"\\DEVICE\\{4D36E972-E325}");
    EXPECT_EQ(fake->stateQueries, 3) << "polling ends at the first ready state";
    EXPECT_TRUE(Logged("checked driver state: 0", kLogTrace));
    EXPECT_TRUE(Logged("checked driver state: 1", kLogTrace));
    EXPECT_TRUE(Logged("checked driver state: 4", kLogTrace));
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0].rfind("[INFO] -GEVInitFilterDriver handle: ", 0), 0u);
    EXPECT_NE(debug[0], "[INFO] -GEVInitFilterDriver handle: 0000000000000000\r\n");

    g_lines.clear();
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_TRUE(Logged("[WARNING] -GEVInitFilterDriver already enabled", kLogWarning));
    EXPECT_EQ(fake->openedPaths.size(), 1u);
    EXPECT_EQ(fake->liveDevices, 1);
}

TEST_F(FilterDriverTest, ADeviceAlreadyHeldIsReusedForEnabling) {
    FakeDriverInstall fake;
    slot().record.driverDevice = Platform::OpenDriverDevice(FD::kDevicePath);
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
    EXPECT_TRUE(slot().record.filterDriverOpen);
    EXPECT_EQ(fake->openedPaths.size(), 1u);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0].rfind("[WARNING] -GEVInitFilterDriver already opened. Handle: ", 0), 0u);
}

TEST_F(FilterDriverTest, FailuresToEnableDropTheDevice) {
    struct Case {
        const char* name;
        uint32_t adapterAnswer, enableError, queryError;
        int queries;
        bool stateWarning;
    };
    const Case cases[] = {
        {"driver answers an error code", 5, 0, 0, 0, false},
        {"enable request fails", 0, 31, 0, 0, false},
        {"state poll fails", 0, 0, 87, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_lines.clear();
        debug.clear();
        FakeDriverInstall fake;
        fake->adapterAnswer = c.adapterAnswer;
        if (c.enableError != 0) fake->Fail(FakeFilter::kAdapterControl, c.enableError);
        if (c.queryError != 0) fake->Fail(FakeFilter::kAdapterQuery, c.queryError);
        EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevDriverNotOpen);
        EXPECT_FALSE(slot().record.filterDriverOpen);
        EXPECT_EQ(&BackendOf(slot().record), &SocketStreamBackend());
        EXPECT_EQ(slot().record.driverDevice, nullptr);
        EXPECT_EQ(fake->liveDevices, 0);
        EXPECT_EQ(fake->stateQueries, c.queries);
        EXPECT_TRUE(Logged("[ERROR] -Can't enable adapter in filter driver.", kLogError));
        EXPECT_TRUE(
            Logged("[INFO] -GEVInitFilterDriver: Can't open krvGEVFilter driver..", kLogInfo));
        ASSERT_EQ(debug.size(), c.stateWarning ? 2u : 1u);
        if (c.stateWarning) {
            EXPECT_EQ(debug[1], "[WARNING] -checking driver state failed\r\n");
        }
    }
}

TEST_F(FilterDriverTest, AnAdapterNeverReportingReadyCountsAsEnabledAfterOneHundredPolls) {
    FakeDriverInstall fake;
    fake->stateScript.assign(150, 2);
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
    EXPECT_TRUE(slot().record.filterDriverOpen);
    EXPECT_EQ(fake->stateQueries, 100);
}

TEST_F(FilterDriverTest, PollsAreTwentyFiveMillisecondsApartByDefault) {
    FD::SetAdapterPollInterval(FD::kAdapterPollIntervalMs);
    EXPECT_EQ(FD::AdapterPollInterval(), 25u);
    FakeDriverInstall fake;
    fake->stateScript = {1, 1};  // then ready: three polls, two pauses
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(GEVInitFilterDriver(kHandle), kGevOk);
    auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(fake->stateQueries, 3);
    EXPECT_GE(elapsed, std::chrono::milliseconds(50));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

TEST_F(EnabledDriverTest, DisableTurnsTheAdapterOffAndDropsTheDevice) {
    EXPECT_EQ(&BackendOf(slot().record), &DriverStreamBackend());
    EXPECT_EQ(GEVDisableFilterDriver(kHandle), kGevOk);
    EXPECT_FALSE(slot().record.filterDriverOpen);
    EXPECT_EQ(&BackendOf(slot().record), &SocketStreamBackend());
    EXPECT_EQ(fake->liveDevices, 0);
    EXPECT_EQ(fake->adapterModes, (std::vector<uint32_t>{1, 0}));
    EXPECT_FALSE(fake->adapterEnabled);
    EXPECT_FALSE(Logged("[ERROR] -Can't disable adapter in filter driver.", kLogError));

    // Not enabled: nothing to do.
    fake->calls.clear();
    EXPECT_EQ(GEVDisableFilterDriver(kHandle), kGevOk);
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(EnabledDriverTest, AFailedDisableIsLoggedAndTheDeviceStillDropped) {
    fake->adapterAnswer = 5;
    EXPECT_EQ(GEVDisableFilterDriver(kHandle), kGevOk);
    EXPECT_TRUE(Logged("[ERROR] -Can't disable adapter in filter driver.", kLogError));
    EXPECT_FALSE(slot().record.filterDriverOpen);
    EXPECT_EQ(slot().record.driverDevice, nullptr);
    EXPECT_EQ(fake->liveDevices, 0);
}

TEST_F(FilterDriverTest, VersionNeedsAnEnabledDriver) {
    uint8_t major = 0xAA, minor = 0xAA;
    EXPECT_EQ(GEVGetFilterDriverVersion(kHandle, &major, &minor), kGevDriverNotOpen);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
    EXPECT_TRUE(
        Logged("[INFO] -GEVGetFilterDriverVersion: krvGEVFilter driver is not open. Open "
               "driver with GEVInitFilterDriver function.",
               kLogInfo));
}

TEST_F(EnabledDriverTest, VersionComesPackedFromTheDriver) {
    uint8_t major = 0, minor = 0;
    fake->versionMajor = 4;
    fake->versionMinorPacked = 0x37;  // 4.3.7
    EXPECT_EQ(GEVGetFilterDriverVersion(kHandle, &major, &minor), kGevOk);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor >> 4, 3);
    EXPECT_EQ(minor & 0x0F, 7);
    ASSERT_EQ(fake->calls.size(), 1u);
    EXPECT_EQ(fake->calls[0].code, 0x12C824u);
    EXPECT_EQ(fake->calls[0].in.size(), 1u);

    fake->Fail(FakeFilter::kVersion, 1);
    EXPECT_EQ(GEVGetFilterDriverVersion(kHandle, &major, &minor), kGevDriverFailed);
    EXPECT_EQ(major, 0);
    EXPECT_TRUE(
        Logged("[INFO] -GEVGetFilterDriverVersion: Can't read from krvGEVFilter driver. "
               "Check if krvGEVFilter driver is installed.",
               kLogInfo));
}

// ---- Acquisition

TEST_F(EnabledDriverTest, StartSendsToleranceBufferCountAndTheStartRecord) {
    EXPECT_EQ(FD::Start(slot(), SampleParams(), 12), kGevOk);
    EXPECT_EQ(fake->Codes(), (std::vector<uint32_t>{0x12C834, 0x12C830, 0x12C814}));
    EXPECT_EQ(fake->calls[0].in, (std::vector<uint8_t>{kHandle, 0}));
    EXPECT_EQ(fake->calls[1].in, (std::vector<uint8_t>{kHandle, 0, 12, 0}));
    EXPECT_EQ(fake->bufferCounts[kHandle], 12);
    ASSERT_EQ(fake->startRecords[kHandle].size(), 44u);
    const uint8_t* r = fake->startRecords[kHandle].data();
    EXPECT_EQ(Le<uint32_t>(r + 0), 1280u);
    EXPECT_EQ(Le<uint32_t>(r + 4), 1024u);
    EXPECT_EQ(std::vector<uint8_t>(r + 8, r + 12), (std::vector<uint8_t>{169, 254, 10, 2}));
    EXPECT_EQ(Le<uint16_t>(r + 12), 50000);
    EXPECT_EQ(Le<uint16_t>(r + 14), 50001);
    EXPECT_EQ(Le<uint32_t>(r + 16), 0x01080001u);
    EXPECT_EQ(std::vector<uint8_t>(r + 20, r + 24), (std::vector<uint8_t>{239, 1, 2, 3}));
    EXPECT_EQ(Le<uint32_t>(r + 24), 1310720u);
    EXPECT_EQ(Le<uint16_t>(r + 28), 8964);
    EXPECT_EQ(r[30], 1);
    EXPECT_EQ(r[31], 50);
    EXPECT_EQ(r[32], kHandle);
    EXPECT_EQ(Le<uint32_t>(r + 36), 3000u);
    EXPECT_EQ(r[40], 1);
    for (size_t i : {33u, 34u, 35u, 41u, 42u, 43u}) EXPECT_EQ(r[i], 0) << "reserved byte " << i;
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(EnabledDriverTest, StartErrorsMapToLibraryStatuses) {
    struct Case {
        uint32_t error;
        GevStatus status;
        const char* line;
    };
    const Case cases[] = {
        {6, kGevDriverInvalidHandle, nullptr},
        {8, kGevOutOfMemory, nullptr},
        {170, kGevStatusBusy, nullptr},
        {5, kGevDriverFailed, "[ERROR] - start grab returned error code 5"},
        {1167, kGevDriverFailed, "[ERROR] - start grab returned error code 48f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        g_lines.clear();
        fake->Fail(FakeFilter::kStart, c.error);
        EXPECT_EQ(FD::Start(slot(), SampleParams(), 4), c.status);
        if (c.line != nullptr) {
            EXPECT_TRUE(Logged(c.line, kLogError));
        } else {
            EXPECT_TRUE(g_lines.empty());
        }
    }
    EXPECT_TRUE(fake->acquiring.empty());
}

TEST_F(EnabledDriverTest, ToleranceAndBufferCountFailuresAreLoggedUnderTheErrorBitOnly) {
    for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0xFF & ~kLogError}}) {
        SCOPED_TRACE(static_cast<int>(mask));
        g_lines.clear();
        slot().record.logMask = mask;
        fake->Fail(FakeFilter::kOutOfOrder, 31);
        fake->Fail(FakeFilter::kBufferCount, 31);
        EXPECT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk) << "neither is fatal";
        const bool logged = (mask & kLogError) != 0;
        EXPECT_EQ(Logged("[ERROR] -Can't set packets out of order in driver.", kLogError), logged);
        EXPECT_EQ(Logged("[ERROR] -Can't set buffer count in driver.", kLogError), logged);
        EXPECT_EQ(FD::Stop(slot()), kGevOk);
    }
}

TEST_F(EnabledDriverTest, StopSendsTheHandleAtByte32) {
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    fake->calls.clear();
    EXPECT_EQ(FD::Stop(slot()), kGevOk);
    ASSERT_EQ(fake->calls.size(), 1u);
    EXPECT_EQ(fake->calls[0].code, 0x12C818u);
    EXPECT_EQ(fake->calls[0].in.size(), 44u);
    EXPECT_EQ(fake->calls[0].in[32], kHandle);
    EXPECT_EQ(fake->calls[0].outSize, 44u);
    EXPECT_TRUE(fake->acquiring.empty());
    fake->Fail(FakeFilter::kStop, 31);
    EXPECT_EQ(FD::Stop(slot()), kGevDriverFailed);
}

TEST_F(EnabledDriverTest, StatisticsWithAndWithoutTheDiscardedCount) {
    fake->frames = 100;
    fake->missingFrames = 2;
    fake->lostPackets = 17;
    fake->windowFrames = 30;
    fake->windowMs = 1000;
    fake->discarded = 3;
    FD::Statistics statistics{};
    EXPECT_EQ(FD::ReadStatistics(slot(), &statistics), kGevOk);
    EXPECT_EQ(fake->calls.back().in[0], kHandle);
    EXPECT_EQ(statistics.frames, 100u);
    EXPECT_EQ(statistics.missingFrames, 2u);
    EXPECT_EQ(statistics.lostPackets, 17u);
    EXPECT_EQ(statistics.windowFrames, 30u);
    EXPECT_EQ(statistics.windowMs, 1000u);
    EXPECT_TRUE(statistics.haveDiscarded);
    EXPECT_EQ(statistics.discardedBlocks, 3u);

    fake->statisticsAnswerSize = 32;
    EXPECT_EQ(FD::ReadStatistics(slot(), &statistics), kGevOk);
    EXPECT_FALSE(statistics.haveDiscarded);
    EXPECT_EQ(statistics.discardedBlocks, 0u);
    EXPECT_EQ(statistics.lostPackets, 17u);

    fake->Fail(FakeFilter::kStatistics, 31);
    EXPECT_EQ(FD::ReadStatistics(slot(), &statistics), kGevDriverFailed);
}

TEST_F(EnabledDriverTest, FrameRateOverTheDriversWindow) {
    double fps = -1;
    fake->windowFrames = 50;
    fake->windowMs = 2000;
    EXPECT_EQ(FD::FrameRate(slot(), &fps), kGevOk);
    EXPECT_DOUBLE_EQ(fps, 25.0);
    fake->windowFrames = 3;
    fake->windowMs = 200;
    EXPECT_EQ(FD::FrameRate(slot(), &fps), kGevOk);
    EXPECT_DOUBLE_EQ(fps, 15.0);
    fake->windowFrames = 0;
    EXPECT_EQ(FD::FrameRate(slot(), &fps), kGevOk);
    EXPECT_EQ(fps, 0.0);
    fake->Fail(FakeFilter::kStatistics, 31);
    fps = -1;
    EXPECT_EQ(FD::FrameRate(slot(), &fps), kGevDriverFailed);
    EXPECT_EQ(fps, 0.0);
}

// ---- Image and slot reads

TEST_F(EnabledDriverTest, AnImageReadFillsTheBufferAndBothInfos) {
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    fake->lastImage.blockId = 77;
    fake->lastImage.sizeX = 640;
    fake->lastImage.sizeY = 480;
    fake->lastImage.pixelFormat = 0x01080001;
    std::vector<uint8_t> buffer(1000, 0xEE);
    GevImageInfo info{}, last{};
    EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 1000, &info, &last), kGevOk);
    ASSERT_EQ(fake->readSizes, std::vector<size_t>{1000});
    EXPECT_EQ(fake->readIndexes, std::vector<uint8_t>{kHandle - 1});
    for (size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], FakeFilter::FakeDriverState::PatternByte(i)) << i;
    EXPECT_EQ(fake->calls.back().code, 0x12C828u);
    EXPECT_EQ(fake->calls.back().in[0], kHandle);
    EXPECT_EQ(info.blockId, 77u);
    EXPECT_EQ(info.sizeX, 640u);
    EXPECT_EQ(info.sizeY, 480u);
    EXPECT_EQ(std::memcmp(&info, &last, sizeof info), 0);
    EXPECT_TRUE(Logged("Pulling image from filter driver. Buffer size = 1000", kLogTrace));
    EXPECT_TRUE(Logged("Image pulled from filter driver", kLogVerbose));
    EXPECT_FALSE(Logged("[INFO] -Packet resend [BlockID 77] -> requested: 0, received: 0 packets",
                        kLogInfo));
}

TEST_F(EnabledDriverTest, ReadErrorsAndTheResultAdjustment) {
    struct Case {
        const char* name;
        uint32_t readError;  // 0: the read succeeds
        uint32_t missing;    // in the driver's image record
        GevStatus status;
        uint32_t reportedMissing;
    };
    const Case cases[] = {
        {"success", 0, 0, kGevOk, 0},
        {"success with missing packets reports none", 0, 5, kGevOk, 0},
        {"invalid parameter", 87, 5, kGevDriverInvalidParameter, 5},
        {"invalid parameter, nothing missing", 87, 0, kGevOk, 0},
        {"incomplete", 5, 5, kGevImageIncomplete, 5},
        {"other error, nothing missing", 31, 0, kGevOk, 0},
    };
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake->lastImage.blockId = 5;
        fake->lastImage.missingPackets = c.missing;
        if (c.readError != 0) fake->Fail(FakeFilter::kRead, c.readError);
        std::vector<uint8_t> buffer(64);
        GevImageInfo info{}, last{};
        info.missingPackets = last.missingPackets = 0xDEAD;
        EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 64, &info, &last), c.status);
        EXPECT_EQ(info.blockId, 5u);
        EXPECT_EQ(info.missingPackets, c.reportedMissing);
        EXPECT_EQ(last.missingPackets, c.reportedMissing);
    }
}

TEST_F(EnabledDriverTest, ATimeOutClearsTheCallersInfoAndAsksForNoRecord) {
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    fake->calls.clear();
    fake->Fail(FakeFilter::kRead, 121);
    std::vector<uint8_t> buffer(64);
    GevImageInfo info{}, last{};
    info.blockId = last.blockId = 99;
    EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 64, &info, &last), kGevTimeout);
    EXPECT_EQ(info.blockId, 0u);
    EXPECT_EQ(last.blockId, 99u) << "the last image stays as it was";
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(EnabledDriverTest, ResendCountsAreLoggedFromAFullRecordUnderTheInfoBit) {
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    std::vector<uint8_t> buffer(16);
    const std::string line =
        "[INFO] -Packet resend [BlockID 4294967301] -> requested: 3, "
        "received: 2 packets";
    fake->lastImage.blockId = 0x100000005ull;
    fake->resendRequested = 3;
    fake->resendReceived = 2;
    EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 16, nullptr, nullptr), kGevOk);
    EXPECT_TRUE(Logged(line, kLogInfo));

    g_lines.clear();
    fake->imageAnswerSize = 64;
    EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 16, nullptr, nullptr), kGevOk);
    EXPECT_FALSE(Logged(line, kLogInfo)) << "counts beyond the answer are not trusted";

    g_lines.clear();
    fake->imageAnswerSize = 72;
    slot().record.logMask = 0xFF & ~kLogInfo;
    EXPECT_EQ(FD::ReadImage(slot(), buffer.data(), 16, nullptr, nullptr), kGevOk);
    EXPECT_FALSE(Logged(line, kLogInfo));
}

TEST_F(EnabledDriverTest, ASlotReadAnswersTheRingSlotNumber) {
    ASSERT_EQ(FD::Start(slot(), SampleParams(), 4), kGevOk);
    uint8_t ring[2][16];
    ASSERT_EQ(FD::AnnounceBuffer(slot(), ring[0]), kGevOk);
    ASSERT_EQ(FD::AnnounceBuffer(slot(), ring[1]), kGevOk);
    fake->nextSlot = 0x0101;
    fake->lastImage.blockId = 8;
    fake->lastImage.missingPackets = 2;
    uint16_t number = 0;
    GevImageInfo info{}, last{};
    EXPECT_EQ(FD::ReadSlot(slot(), &number, &info, &last), kGevOk);
    EXPECT_EQ(number, 0x0101);
    EXPECT_EQ(fake->readSizes.back(), 2u);
    EXPECT_EQ(fake->readIndexes.back(), kHandle - 1);
    EXPECT_EQ(info.blockId, 8u);
    EXPECT_EQ(last.missingPackets, 0u);

    fake->Fail(FakeFilter::kRead, 121);
    number = 0x55;
    EXPECT_EQ(FD::ReadSlot(slot(), &number, &info, &last), kGevTimeout);
    EXPECT_EQ(number, 0x55) << "no slot to hand back on a time-out";
}

// ---- Forwarded requests

TEST_F(EnabledDriverTest, BufferCountResendAndUserBufferRecords) {
    uint8_t buffer[8];
    EXPECT_EQ(FD::SetBufferCount(slot(), 0x0203), kGevOk);
    EXPECT_EQ(FD::SetPacketResend(slot(), true), kGevOk);
    EXPECT_EQ(fake->resend[kHandle], true);
    EXPECT_EQ(FD::SetPacketResend(slot(), false), kGevOk);
    EXPECT_EQ(FD::AnnounceBuffer(slot(), buffer), kGevOk);
    EXPECT_EQ(FD::QueueSlot(slot(), 0x1122334455ull), kGevOk);
    EXPECT_EQ(FD::ReleaseBuffers(slot()), kGevOk);

    EXPECT_EQ(fake->Codes(),
              (std::vector<uint32_t>{0x12C830, 0x12C81C, 0x12C81C, 0x12C83C, 0x12C844, 0x12C840}));
    EXPECT_EQ(fake->calls[0].in, (std::vector<uint8_t>{kHandle, 0, 3, 2}));
    EXPECT_EQ(fake->calls[1].in, (std::vector<uint8_t>{kHandle, 1}));
    EXPECT_EQ(fake->calls[2].in, (std::vector<uint8_t>{kHandle, 0}));
    for (size_t i = 3; i < 6; ++i) {
        ASSERT_EQ(fake->calls[i].in.size(), 24u);
        EXPECT_EQ(fake->calls[i].in[0], kHandle);
    }
    EXPECT_EQ(Le<uint64_t>(&fake->calls[3].in[8]), reinterpret_cast<uintptr_t>(buffer));
    EXPECT_EQ(Le<uint64_t>(&fake->calls[4].in[16]), 0x1122334455ull);
    EXPECT_EQ(fake->queued[kHandle], std::vector<uint64_t>{0x1122334455ull});
    EXPECT_EQ(fake->releases, 1);
    EXPECT_TRUE(fake->announced.empty());
}

TEST_F(EnabledDriverTest, ForwardedRequestsFailWithTheDriver) {
    uint8_t buffer[8];
    const std::pair<uint32_t, std::function<GevStatus()>> requests[] = {
        {FakeFilter::kBufferCount, [&] { return FD::SetBufferCount(slot(), 4); }},
        {FakeFilter::kPacketResend, [&] { return FD::SetPacketResend(slot(), true); }},
        {FakeFilter::kAnnounce, [&] { return FD::AnnounceBuffer(slot(), buffer); }},
        {FakeFilter::kRelease, [&] { return FD::ReleaseBuffers(slot()); }},
        {FakeFilter::kQueue, [&] { return FD::QueueSlot(slot(), 1); }},
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request.first);
        fake->Fail(request.first, 31);
        EXPECT_EQ(request.second(), kGevDriverFailed);
        EXPECT_EQ(request.second(), kGevOk) << "the failure was scripted once";
    }
}

TEST_F(FilterDriverTest, RequestsWithoutADeviceReportTheDriverNotOpen) {
    uint8_t buffer[8];
    uint16_t number = 0;
    FD::Statistics statistics{};
    double fps = 0;
    EXPECT_EQ(FD::Start(slot(), SampleParams(), 4), kGevDriverNotOpen);
    EXPECT_EQ(FD::Stop(slot()), kGevDriverNotOpen);
    EXPECT_EQ(FD::ReadStatistics(slot(), &statistics), kGevDriverNotOpen);
    EXPECT_EQ(FD::FrameRate(slot(), &fps), kGevDriverNotOpen);
    EXPECT_EQ(FD::ReadImage(slot(), buffer, 8, nullptr, nullptr), kGevDriverNotOpen);
    EXPECT_EQ(FD::ReadSlot(slot(), &number, nullptr, nullptr), kGevDriverNotOpen);
    EXPECT_EQ(FD::SetBufferCount(slot(), 4), kGevDriverNotOpen);
    EXPECT_EQ(FD::SetPacketResend(slot(), true), kGevDriverNotOpen);
    EXPECT_EQ(FD::AnnounceBuffer(slot(), buffer), kGevDriverNotOpen);
    EXPECT_EQ(FD::ReleaseBuffers(slot()), kGevDriverNotOpen);
    EXPECT_EQ(FD::QueueSlot(slot(), 1), kGevDriverNotOpen);
}
