// GVCP wire format: every command the library sends and every acknowledge it
// reads, with the byte offsets in one place. Pure codec, no I/O: each builder
// writes into a caller's buffer and returns the datagram size, each parser
// checks the received size before it reads a field. All fields big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vantor {
namespace Gvcp {

constexpr uint16_t kPort = 3956;
constexpr uint8_t kKey = 0x42;
constexpr size_t kMaxDatagram = 576;

// Command header flags.
constexpr uint8_t kFlagAckRequired = 0x01;
constexpr uint8_t kFlagBroadcastAck = 0x10;  // in DISCOVERY_CMD
constexpr uint8_t kFlagExtendedIds = 0x10;   // in EVENT, EVENTDATA and PACKETRESEND

// Command and acknowledge codes.
constexpr uint16_t kDiscoveryCmd = 0x0002, kDiscoveryAck = 0x0003;
constexpr uint16_t kForceIpCmd = 0x0004, kForceIpAck = 0x0005;
constexpr uint16_t kPacketResendCmd = 0x0040;
constexpr uint16_t kReadRegCmd = 0x0080, kReadRegAck = 0x0081;
constexpr uint16_t kWriteRegCmd = 0x0082, kWriteRegAck = 0x0083;
constexpr uint16_t kReadMemCmd = 0x0084, kReadMemAck = 0x0085;
constexpr uint16_t kWriteMemCmd = 0x0086, kWriteMemAck = 0x0087;
constexpr uint16_t kPendingAck = 0x0089;
constexpr uint16_t kEventCmd = 0x00C0, kEventAck = 0x00C1;
constexpr uint16_t kEventDataCmd = 0x00C2, kEventDataAck = 0x00C3;

// Command header: key(0) flags(1) command(2) length(4) request id(6).
constexpr size_t kHeaderSize = 8;
constexpr size_t kCmdFlags = 1, kCmdCode = 2, kCmdLength = 4, kCmdRequestId = 6;
// Acknowledge header: status(0) code(2) length(4) acknowledge id(6).
constexpr size_t kAckStatus = 0, kAckCode = 2, kAckLength = 4, kAckId = 6;

// READREG: n addresses / n values; WRITEREG: n (address, value) pairs.
constexpr size_t kMaxWriteRegPairs = 134;
constexpr size_t kWriteRegAckSize = 12;  // header, reserved(8), index(10)
// READMEM_CMD: address(8) reserved(12) count(14). READMEM_ACK: address(8) data(12).
constexpr size_t kReadMemCmdSize = 16;
constexpr size_t kReadMemAckData = 12;
// WRITEMEM_CMD: address(8) data(12). WRITEMEM_ACK as WRITEREG_ACK.
constexpr size_t kWriteMemData = 12;
constexpr size_t kWriteMemAckSize = 12;
// Memory transfers are cut into chunks of this many data bytes.
constexpr uint32_t kMemoryChunk = 536;
// PENDING_ACK: reserved(8) time to completion in ms(10).
constexpr size_t kPendingAckSize = 12;
constexpr size_t kPendingTime = 10;

// ---- Big-endian field access
inline void PutU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}
inline void PutU32(uint8_t* at, uint32_t value) {
    PutU16(at, static_cast<uint16_t>(value >> 16));
    PutU16(at + 2, static_cast<uint16_t>(value));
}
inline uint16_t GetU16(const uint8_t* at) {
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}
inline uint32_t GetU32(const uint8_t* at) {
    return (static_cast<uint32_t>(GetU16(at)) << 16) | GetU16(at + 2);
}
inline uint64_t GetU64(const uint8_t* at) {
    return (static_cast<uint64_t>(GetU32(at)) << 32) | GetU32(at + 4);
}

// ---- Commands
size_t BuildHeader(uint8_t* out, uint8_t flags, uint16_t command, uint16_t length,
                   uint16_t requestId);
// `out` holds 8 + 4 * count bytes.
size_t BuildReadReg(uint8_t* out, uint16_t requestId, uint32_t address, uint8_t count);
// Writes min(count, 134) pairs at consecutive addresses; `out` holds 8 + 8 * pairs bytes.
size_t BuildWriteReg(uint8_t* out, uint16_t requestId, uint32_t address, size_t count,
                     const uint32_t* values);
size_t BuildReadMem(uint8_t* out, uint16_t requestId, uint32_t address, uint16_t count);
// `out` holds 12 + size bytes.
size_t BuildWriteMem(uint8_t* out, uint16_t requestId, uint32_t address, const uint8_t* data,
                     size_t size);

// ---- Acknowledges
struct AckHeader {
    uint16_t status;
    uint16_t code;
    uint16_t length;
    uint16_t ackId;
};
// False when fewer than 8 bytes came.
bool ParseAckHeader(const uint8_t* data, size_t size, AckHeader* header);
// Time to completion of a PENDING_ACK; 0 when the datagram is too short to hold it.
uint16_t PendingAckTime(const uint8_t* data, size_t size);
// Copies the register values of a READREG_ACK in host order, at most `count`
// and no more than the datagram holds; returns how many were copied.
size_t ParseReadRegValues(const uint8_t* data, size_t size, uint32_t* values, size_t count);

// ---- Discovery and FORCEIP
// DISCOVERY_ACK as read, offsets from the start of the 256-byte datagram.
constexpr size_t kDiscoveryAckSize = 256;
constexpr size_t kDiscMacHigh = 18, kDiscMacLow = 20;
constexpr size_t kDiscCurrentIp = 44, kDiscSubnetMask = 60, kDiscGateway = 76;
constexpr size_t kDiscManufacturer = 80, kDiscModel = 112, kDiscDeviceVersion = 144;
constexpr size_t kDiscSerial = 224, kDiscUserName = 240;
constexpr size_t kDiscNameSize = 32, kDiscShortNameSize = 16;

size_t BuildDiscovery(uint8_t* out, bool broadcastAckAllowed);

// FORCEIP_CMD, 64 bytes: MAC high(10) MAC low(12) static IP(28) mask(44) gateway(60).
constexpr size_t kForceIpCmdSize = 64;
constexpr size_t kForceMac = 10, kForceIp = 28, kForceMask = 44, kForceGateway = 60;
constexpr size_t kForceIpAckSize = 8;
// Addresses in network order are stored as they stand.
size_t BuildForceIp(uint8_t* out, const uint8_t mac[6], uint32_t address, uint32_t mask,
                    uint32_t gateway);

// ---- Event messages (message channel)
// Standard ids: event id(10) stream channel(12) block id 16 bits(14) timestamp(16) data(24).
// Extended ids: event id(10) stream channel(12) block id 64 bits(16) timestamp(24) data(32).
constexpr size_t kEventId = 10, kEventStreamChannel = 12;
constexpr size_t kEventBlockId16 = 14, kEventTimestamp = 16, kEventData = 24;
constexpr size_t kEventBlockId64 = 16, kEventTimestampExt = 24, kEventDataExt = 32;
constexpr size_t kEventAckSize = 8;

struct EventMessage {
    uint8_t flags;
    uint16_t command;  // kEventCmd or kEventDataCmd
    uint16_t requestId;
    uint16_t eventId;
    uint16_t streamChannel;  // the two wire bytes, unconverted
    uint64_t blockId;
    uint64_t timestamp;
    const uint8_t* data;  // inside the datagram; null for EVENT_CMD
    size_t dataLength;
};

enum class EventParse { Ok, NotEvent, Truncated };
// Reads the first event of an EVENT or EVENTDATA datagram. NotEvent: not a
// GVCP event command at all; Truncated: an event command too short for its
// fixed fields. EVENTDATA payloads are cut to what the datagram holds.
EventParse ParseEvent(const uint8_t* data, size_t size, EventMessage* event);
size_t BuildEventAck(uint8_t* out, uint16_t command, uint16_t requestId);

}  // namespace Gvcp
}  // namespace Vantor
