// The message handler's record building: any datagram that reaches the
// message socket from an open camera's address, handed on as the producer
// keeps it and delivers it (EventGetData's record, standard or extended
// layout). A record never exceeds its size limit, and its fields are the
// datagram's: event id, stream channel, block id, timestamp and the payload,
// cut only at the limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DebugOutput.h"
#include "DeviceTable.h"
#include "EventRemoteDevice.h"
#include "GvcpPackets.h"
#include "MessageChannel.h"

namespace {

using namespace Vantor;
using GenTL::CEventRemoteDevice;

// The case at hand, for the handler.
const uint8_t* g_datagram;
size_t g_size;
uint8_t g_gevMajor;
bool g_handled;

uint16_t Host16(const std::vector<uint8_t>& record, size_t at) {
    uint16_t value;
    std::memcpy(&value, &record[at], sizeof value);
    return value;
}
uint32_t Host32(const std::vector<uint8_t>& record, size_t at) {
    uint32_t value;
    std::memcpy(&value, &record[at], sizeof value);
    return value;
}

void Handler(uint8_t, const GevMessageEvent* event) {
    g_handled = true;
    const std::vector<uint8_t> record =
        CEventRemoteDevice::BuildRecord(CEventRemoteDevice::EntryOf(*event), g_gevMajor);
    const bool standard = g_gevMajor == 1;
    const size_t header = standard ? Gvcp::kEventData : Gvcp::kEventDataExt;
    if (record.size() > CEventRemoteDevice::kMaxRecordSize || record.size() < header)
        __builtin_trap();

    // The datagram's own fields, read here from the wire.
    const uint8_t* wire = g_datagram;
    const uint16_t command = Gvcp::GetU16(wire + Gvcp::kCmdCode);
    const bool extended = (wire[Gvcp::kCmdFlags] & Gvcp::kFlagExtendedIds) != 0;
    const size_t dataOffset = extended ? Gvcp::kEventDataExt : Gvcp::kEventData;
    const uint64_t blockId = extended ? Gvcp::GetU64(wire + Gvcp::kEventBlockId64)
                                      : Gvcp::GetU16(wire + Gvcp::kEventBlockId16);
    const uint64_t timestamp =
        Gvcp::GetU64(wire + (extended ? Gvcp::kEventTimestampExt : Gvcp::kEventTimestamp));
    size_t payload = 0;
    if (command == Gvcp::kEventDataCmd) {
        const size_t announced = Gvcp::GetU16(wire + Gvcp::kCmdLength);
        const size_t fixed = dataOffset - Gvcp::kHeaderSize;
        payload = std::min(announced > fixed ? announced - fixed : 0, g_size - dataOffset);
    }
    const size_t kept = std::min(payload, CEventRemoteDevice::kMaxRecordSize - header);

    if (record.size() != header + kept || record[0] != Gvcp::kKey ||
        Host16(record, Gvcp::kCmdCode) != (kept > 0 ? Gvcp::kEventDataCmd : Gvcp::kEventCmd) ||
        Host16(record, Gvcp::kCmdLength) != record.size() - Gvcp::kHeaderSize ||
        Host16(record, Gvcp::kEventId) != Gvcp::GetU16(wire + Gvcp::kEventId) ||
        std::memcmp(&record[Gvcp::kEventStreamChannel], wire + Gvcp::kEventStreamChannel, 2) != 0)
        __builtin_trap();
    if (standard) {
        if (Host16(record, Gvcp::kEventBlockId16) != static_cast<uint16_t>(blockId) ||
            Host32(record, Gvcp::kEventTimestamp) != timestamp >> 32 ||
            Host32(record, Gvcp::kEventTimestamp + 4) != static_cast<uint32_t>(timestamp))
            __builtin_trap();
    } else {
        if (Host32(record, Gvcp::kEventBlockId64) != blockId >> 32 ||
            Host32(record, Gvcp::kEventBlockId64 + 4) != static_cast<uint32_t>(blockId) ||
            Host32(record, Gvcp::kEventTimestampExt) != timestamp >> 32 ||
            Host32(record, Gvcp::kEventTimestampExt + 4) != static_cast<uint32_t>(timestamp))
            __builtin_trap();
    }
    if (kept > 0 && std::memcmp(&record[header], wire + dataOffset, kept) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        Platform::SetDebugOutputCapture([](const std::string&) {});
        DeviceSlot* slot = SlotOf(1);
        slot->record.cameraAddress = 0x0200007F;
        slot->record.messageChannelAvailable = true;
        slot->record.ownHandle = 1;
        slot->inUse = true;
        MessageChannel::Instance().SetHandler(slot->record, &Handler);
        return true;
    }();
    (void)ready;
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    g_gevMajor = (mode & 3) % 3;  // 1: standard layout; 0 (unknown) and 2: extended
    std::vector<uint8_t> datagram(data + 1, data + size);
    if (mode & 4) {
        // Shaped as an event command, so that most inputs reach the handler.
        datagram.resize(std::max<size_t>(datagram.size(), Gvcp::kEventDataExt));
        datagram[0] = Gvcp::kKey;
        Gvcp::PutU16(&datagram[Gvcp::kCmdCode], mode & 8 ? Gvcp::kEventDataCmd : Gvcp::kEventCmd);
    }
    g_datagram = datagram.data();
    g_size = datagram.size();
    g_handled = false;
    // No socket is open: an acknowledge the datagram asks for goes nowhere.
    MessageChannel::Instance().HandleDatagram(g_datagram, g_size, 0x0200007F, Gvcp::kPort);
    // Every event command long enough for its fields reaches the handler.
    const bool event = g_size >= Gvcp::kHeaderSize && g_datagram[0] == Gvcp::kKey &&
                       (Gvcp::GetU16(g_datagram + Gvcp::kCmdCode) == Gvcp::kEventCmd ||
                        Gvcp::GetU16(g_datagram + Gvcp::kCmdCode) == Gvcp::kEventDataCmd);
    const bool whole = event && g_size >= ((g_datagram[Gvcp::kCmdFlags] & Gvcp::kFlagExtendedIds)
                                               ? Gvcp::kEventDataExt
                                               : Gvcp::kEventData);
    if (g_handled != whole) __builtin_trap();
    return 0;
}
