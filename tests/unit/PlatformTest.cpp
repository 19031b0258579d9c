// The platform layer as each system implements it: module identity and file
// version, the manual-reset event, the clock, address texts and the adapter
// list. The same checks run natively and, for the Windows side, under wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "Adapters.h"
#include "BuildVersion.h"
#include "Clock.h"
#include "Event.h"
#include "ModuleInfo.h"
#include "Socket.h"

namespace {

uint64_t BuildVersion() {
    return (uint64_t{Platform::kBuildVersion[0]} << 48) |
           (uint64_t{Platform::kBuildVersion[1]} << 32) |
           (uint64_t{Platform::kBuildVersion[2]} << 16) | uint64_t{Platform::kBuildVersion[3]};
}

TEST(Platform, ModulePathNamesThisProgramWithTheSystemSeparator) {
    ASSERT_NE(Platform::ModuleInstance(), nullptr);
    const std::string path = Platform::ModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find(Platform::kPathSeparator), std::string::npos) << path;
    EXPECT_NE(path.find("unit_tests"), std::string::npos) << path;
}

TEST(Platform, FileVersionOfThisModuleIsTheBuildVersion) {
    // Read from the version resource on Windows, baked in elsewhere.
    EXPECT_EQ(Platform::ReadFileVersion(Platform::ModulePath()), BuildVersion());
}

TEST(Platform, FileWithoutAVersionHasNone) {
    std::string missing = Platform::CurrentDirectory();
    ASSERT_FALSE(missing.empty());
    missing += Platform::kPathSeparator;
    missing += "no-such-library.dll";
    EXPECT_EQ(Platform::ReadFileVersion(missing), 0u);
}

TEST(Platform, ManualResetEventStaysSignalledUntilReset) {
    Platform::ManualResetEvent event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
}

TEST(Platform, ManualResetEventWakesAWaiterOnAnotherThread) {
    Platform::ManualResetEvent event;
    bool woken = false;
    std::thread waiter([&] { woken = event.Wait(60000); });
    event.Set();
    waiter.join();
    EXPECT_TRUE(woken);
}

TEST(Platform, ClockCountsForward) {
    EXPECT_GT(Platform::PerformanceFrequency(), 0);
    const int64_t before = Platform::PerformanceCounter();
    const uint32_t tick = Platform::TickCount();
    Platform::SleepMs(20);
    EXPECT_GT(Platform::PerformanceCounter(), before);
    EXPECT_NE(Platform::TickCount(), tick);
    const Platform::TimeOfDay now = Platform::LocalTimeOfDay();
    EXPECT_GE(now.hour, 0);
    EXPECT_LT(now.hour, 24);
    EXPECT_LT(now.minute, 60);
    EXPECT_LT(now.second, 61);
}

TEST(Platform, AddressTextsRoundTrip) {
    const uint32_t address = Platform::ParseAddress("169.254.10.2");
    EXPECT_EQ(Platform::NetworkToHost32(address), 0xA9FE0A02u);
    char text[16];
    EXPECT_STREQ(Platform::AddressText(address, text), "169.254.10.2");
    EXPECT_EQ(Platform::ParseAddress("not an address"), 0u);
    EXPECT_EQ(Platform::HostToNetwork16(Platform::NetworkToHost16(0x1234)), 0x1234);
}

TEST(Platform, AdapterListCanBeRead) {
    // Reading the list may open a probe socket: only inside a test namespace.
    if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)
        GTEST_SKIP() << "run the test through tests/netns/netns-run";
    std::vector<Platform::AdapterAddress> adapters;
    ASSERT_TRUE(Platform::ListAdapters(adapters));
    for (const Platform::AdapterAddress& adapter : adapters) {
        EXPECT_NE(adapter.address, 0u) << adapter.name;
        EXPECT_FALSE(adapter.name.empty());
        EXPECT_EQ(Platform::AdapterMtu(adapter.address), adapter.mtu) << adapter.name;
    }
    EXPECT_EQ(Platform::AdapterMtu(Platform::ParseAddress("192.0.2.1")), 0u);
    if (std::getenv("GEVTLKRV_NETNS_CAM0") == nullptr) return;
    // The host end of the first veth pair that netns-run made.
    const uint32_t host = Platform::ParseAddress("169.254.10.1");
    bool found = false;
    for (const Platform::AdapterAddress& adapter : adapters) {
        if (adapter.address != host) continue;
        found = true;
        EXPECT_EQ(adapter.mask, Platform::ParseAddress("255.255.255.0"));
        EXPECT_GT(adapter.mtu, 0u);
    }
    EXPECT_TRUE(found);
}

}  // namespace
