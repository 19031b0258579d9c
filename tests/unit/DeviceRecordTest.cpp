// The discovered-device record as the interface keeps it, and the
// remote-device event record built from a camera's event message.
#include <gtest/gtest.h>

#include <cstring>

#include "DeviceInfo.h"
#include "EventRemoteDevice.h"

using namespace GenTL;

namespace {

Vantor::GevDiscoveredDevice Discovered() {
    Vantor::GevDiscoveredDevice record{};
    std::strcpy(record.manufacturer, "Vendor");
    std::strcpy(record.model, "ModelX");
    std::strcpy(record.serialNumber, "S1");
    const uint8_t mac[6] = {0x02, 0x00, 0x0A, 0x0B, 0x0C, 0x0D};
    std::memcpy(record.macHigh, mac, 2);
    std::memcpy(record.macLow, mac + 2, 4);
    const uint8_t ip[4] = {192, 168, 1, 10};
    std::memcpy(&record.cameraAddress, ip, 4);
    return record;
}

}  // namespace

TEST(DeviceRecord, IdDisplayNameAndMacValue) {
    CDeviceInfo info(Discovered());
    EXPECT_EQ(info.GetID(), "ModelX@02-00-0A-0B-0C-0D");
    EXPECT_EQ(info.GetDisplayName(), "Vendor:ModelX:S1@192.168.1.10");
    EXPECT_EQ(info.macText, "02:00:0A:0B:0C:0D");
    EXPECT_EQ(info.macValue, 0x0B0A00020C0D0000ull);
    EXPECT_TRUE(info.Matches("ModelX@02-00-0A-0B-0C-0D"));
    EXPECT_FALSE(info.Matches("ModelX@02-00-0a-0b-0c-0d")) << "exact, case-sensitive";
    EXPECT_FALSE(info.Matches("ModelXY@02-00-0A-0B-0C-0D"));
    EXPECT_FALSE(info.Matches("Model@02-00-0A-0B-0C-0D"));
    EXPECT_FALSE(info.Matches("no at sign"));
}

TEST(DeviceRecord, AccessStatusMapping) {
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(0), DEVICE_ACCESS_STATUS_READWRITE);
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(1), DEVICE_ACCESS_STATUS_NOACCESS);
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(2), 1000);
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(3), DEVICE_ACCESS_STATUS_READONLY);
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(4), DEVICE_ACCESS_STATUS_UNKNOWN);
    EXPECT_EQ(CDeviceInfo::MapAccessStatus(5), DEVICE_ACCESS_STATUS_UNKNOWN);
}

TEST(RemoteDeviceRecord, ExtendedFormCarriesTheWholeBlockIdAndTimestamp) {
    RemoteDeviceEntry entry;
    entry.eventId = 0x9001;
    entry.streamChannel = 0x0100;
    entry.blockId = 0x0000000500000007ull;
    entry.timestamp = 0x1122334455667788ull;
    entry.data = {1, 2, 3};
    std::vector<uint8_t> record = CEventRemoteDevice::BuildRecord(entry, 2);
    ASSERT_EQ(record.size(), 35u);
    uint32_t word = 0;
    std::memcpy(&word, &record[16], 4);
    EXPECT_EQ(word, 5u) << "block ID high 32 bits, host order";
    std::memcpy(&word, &record[20], 4);
    EXPECT_EQ(word, 7u);
    std::memcpy(&word, &record[24], 4);
    EXPECT_EQ(word, 0x11223344u);
    EXPECT_EQ(record[32], 1);

    // Data that would not fit the 1024-byte record is cut, never overrun.
    entry.data.assign(2000, 0xEE);
    EXPECT_EQ(CEventRemoteDevice::BuildRecord(entry, 2).size(), 1024u);
    EXPECT_EQ(CEventRemoteDevice::BuildRecord(entry, 1).size(), 1024u);
}
