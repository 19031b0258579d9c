#include "GvcpPackets.h"

#include <algorithm>
#include <cstring>

namespace Vantor {
namespace Gvcp {

size_t BuildHeader(uint8_t* out, uint8_t flags, uint16_t command, uint16_t length,
                   uint16_t requestId) {
    out[0] = kKey;
    out[kCmdFlags] = flags;
    PutU16(out + kCmdCode, command);
    PutU16(out + kCmdLength, length);
    PutU16(out + kCmdRequestId, requestId);
    return kHeaderSize;
}

size_t BuildReadReg(uint8_t* out, uint16_t requestId, uint32_t address, uint8_t count) {
    BuildHeader(out, kFlagAckRequired, kReadRegCmd, static_cast<uint16_t>(4 * count), requestId);
    for (size_t i = 0; i < count; ++i)
        PutU32(out + kHeaderSize + 4 * i, address + static_cast<uint32_t>(4 * i));
    return kHeaderSize + 4 * size_t{count};
}

size_t BuildWriteReg(uint8_t* out, uint16_t requestId, uint32_t address, size_t count,
                     const uint32_t* values) {
    size_t pairs = std::min(count, kMaxWriteRegPairs);
    BuildHeader(out, kFlagAckRequired, kWriteRegCmd, static_cast<uint16_t>(8 * pairs), requestId);
    for (size_t i = 0; i < pairs; ++i) {
        PutU32(out + kHeaderSize + 8 * i, address + static_cast<uint32_t>(4 * i));
        PutU32(out + kHeaderSize + 8 * i + 4, values[i]);
    }
    return kHeaderSize + 8 * pairs;
}

size_t BuildReadMem(uint8_t* out, uint16_t requestId, uint32_t address, uint16_t count) {
    BuildHeader(out, kFlagAckRequired, kReadMemCmd, 8, requestId);
    PutU32(out + 8, address);
    PutU16(out + 12, 0);
    PutU16(out + 14, count);
    return kReadMemCmdSize;
}

size_t BuildWriteMem(uint8_t* out, uint16_t requestId, uint32_t address, const uint8_t* data,
                     size_t size) {
    BuildHeader(out, kFlagAckRequired, kWriteMemCmd, static_cast<uint16_t>(4 + size), requestId);
    PutU32(out + 8, address);
    if (size > 0) std::memcpy(out + kWriteMemData, data, size);
    return kWriteMemData + size;
}

bool ParseAckHeader(const uint8_t* data, size_t size, AckHeader* header) {
    if (size < kHeaderSize) return false;
    header->status = GetU16(data + kAckStatus);
    header->code = GetU16(data + kAckCode);
    header->length = GetU16(data + kAckLength);
    header->ackId = GetU16(data + kAckId);
    return true;
}

uint16_t PendingAckTime(const uint8_t* data, size_t size) {
    return size < kPendingAckSize ? 0 : GetU16(data + kPendingTime);
}

size_t ParseReadRegValues(const uint8_t* data, size_t size, uint32_t* values, size_t count) {
    if (size < kHeaderSize) return 0;
    // The length field rounds up to whole registers; the datagram may hold fewer.
    size_t announced = (size_t{GetU16(data + kAckLength)} + 3) / 4;
    size_t present = (size - kHeaderSize) / 4;
    size_t copied = std::min({announced, present, count});
    for (size_t i = 0; i < copied; ++i) values[i] = GetU32(data + kHeaderSize + 4 * i);
    return copied;
}

size_t BuildDiscovery(uint8_t* out, bool broadcastAckAllowed) {
    uint8_t flags = kFlagAckRequired | (broadcastAckAllowed ? kFlagBroadcastAck : 0);
    return BuildHeader(out, flags, kDiscoveryCmd, 0, 1);
}

size_t BuildForceIp(uint8_t* out, const uint8_t mac[6], uint32_t address, uint32_t mask,
                    uint32_t gateway) {
    std::memset(out, 0, kForceIpCmdSize);
    BuildHeader(out, address != 0 ? kFlagAckRequired : 0, kForceIpCmd,
                static_cast<uint16_t>(kForceIpCmdSize - kHeaderSize), 1);
    std::memcpy(out + kForceMac, mac, 6);
    std::memcpy(out + kForceIp, &address, 4);
    std::memcpy(out + kForceMask, &mask, 4);
    std::memcpy(out + kForceGateway, &gateway, 4);
    return kForceIpCmdSize;
}

EventParse ParseEvent(const uint8_t* data, size_t size, EventMessage* event) {
    if (size < kHeaderSize || data[0] != kKey) return EventParse::NotEvent;
    uint16_t command = GetU16(data + kCmdCode);
    if (command != kEventCmd && command != kEventDataCmd) return EventParse::NotEvent;
    const bool extended = (data[kCmdFlags] & kFlagExtendedIds) != 0;
    const size_t dataOffset = extended ? kEventDataExt : kEventData;
    if (size < dataOffset) return EventParse::Truncated;

    event->flags = data[kCmdFlags];
    event->command = command;
    event->requestId = GetU16(data + kCmdRequestId);
    event->eventId = GetU16(data + kEventId);
    std::memcpy(&event->streamChannel, data + kEventStreamChannel, 2);
    event->blockId = extended ? GetU64(data + kEventBlockId64) : GetU16(data + kEventBlockId16);
    event->timestamp = GetU64(data + (extended ? kEventTimestampExt : kEventTimestamp));
    event->data = nullptr;
    event->dataLength = 0;
    if (command == kEventDataCmd) {
        // The length counts the event fields after the header as well as the data.
        size_t fixed = dataOffset - kHeaderSize;
        size_t announced = GetU16(data + kCmdLength);
        size_t length = announced > fixed ? announced - fixed : 0;
        event->data = data + dataOffset;
        event->dataLength = std::min(length, size - dataOffset);
    }
    return EventParse::Ok;
}

size_t BuildEventAck(uint8_t* out, uint16_t command, uint16_t requestId) {
    PutU16(out + kAckStatus, 0);
    PutU16(out + kAckCode, command == kEventDataCmd ? kEventDataAck : kEventAck);
    PutU16(out + kAckLength, 0);
    PutU16(out + kAckId, requestId);
    return kEventAckSize;
}

}  // namespace Gvcp
}  // namespace Vantor
