// The protocol library's device log and device-less log.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "DebugOutput.h"
#include "GevLog.h"

using namespace Vantor;

namespace {

std::vector<std::pair<std::string, uint8_t>> g_lines;

void Collect(uint8_t handle, const char* text, uint8_t level) {
    EXPECT_EQ(handle, 7);
    g_lines.emplace_back(text, level);
}

class DeviceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        SlotOf(7)->record.logCallback = &Collect;
        SlotOf(7)->record.logMask = kDefaultLogMask;
    }
    void TearDown() override { SlotOf(7)->record.logCallback = nullptr; }
};

}  // namespace

TEST_F(DeviceLogTest, OnlyLevelsInTheMaskReachTheCallbackWithoutTrailingLineEnds) {
    DeviceLog(7, kLogRegisterData, "[INFO] -data %d\n", 1);
    DeviceLog(7, kLogTrace, "trace\n");
    DeviceLog(7, kLogVerbose, "verbose\n");
    DeviceLog(7, kLogInfo, "[INFO] -Control channel port: %d\n", 51000);
    DeviceLog(7, kLogError, "[ERROR] -ReadRegister[0x%08X] Status: %04X \t\r\n", 0x938u, 0xC008);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0].first, "[INFO] -Control channel port: 51000");
    EXPECT_EQ(g_lines[0].second, kLogInfo);
    EXPECT_EQ(g_lines[1].first, "[ERROR] -ReadRegister[0x00000938] Status: C008");

    SlotOf(7)->record.logMask = kDefaultLogMask | kLogVerbose;
    DeviceLog(7, kLogVerbose, "verbose\n");
    EXPECT_EQ(g_lines.back().first, "verbose");
}

TEST_F(DeviceLogTest, LongMessagesAreCutTo1023Characters) {
    DeviceLog(7, kLogInfo, "%s", std::string(2000, 'x'));
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].first.size(), 1023u);
}

TEST_F(DeviceLogTest, ClosedSlotsAndHandlesOutsideTheTableLogNothing) {
    SlotOf(7)->record.logCallback = nullptr;
    DeviceLog(7, kLogInfo, "nothing\n");
    DeviceLog(0, kLogInfo, "nothing\n");
    DeviceLog(51, kLogInfo, "nothing\n");
    EXPECT_TRUE(g_lines.empty());
}

TEST(DevicelessLog, EndsInExactlyOneCarriageReturnAndLineFeed) {
    std::vector<std::string> lines;
    Platform::SetDebugOutputCapture([&](const std::string& text) { lines.push_back(text); });
    DevicelessLog("[WARNING] -FORCEIP select timed out\n");
    DevicelessLog("[ERROR] -x %d\r\n\r\n  \t", 5);
    DevicelessLog("no end");
    DevicelessLog("%s", std::string(5000, 'y'));
    Platform::SetDebugOutputCapture(nullptr);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "[WARNING] -FORCEIP select timed out\r\n");
    EXPECT_EQ(lines[1], "[ERROR] -x 5\r\n");
    EXPECT_EQ(lines[2], "no end\r\n");
    EXPECT_EQ(lines[3].size(), 4095u + 2);
}

TEST_F(DeviceLogTest, VersionReportIsSilentWithoutTheLibraryFileInTheWorkingDirectory) {
    VersionReport(7);
    EXPECT_TRUE(g_lines.empty());
}
