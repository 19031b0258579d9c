// Byte layout of GVCP datagrams as the camera sees them: command and acknowledge
// codes, statuses, flag bits, header offsets, and big-endian field access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace GevSim::Gvcp {

constexpr uint16_t kDefaultPort = 3956;
constexpr uint8_t kKey = 0x42;

// Command header: key u8 @0, flags u8 @1, command u16 @2, length u16 @4, req_id u16 @6.
constexpr size_t kHeaderSize = 8;
constexpr size_t kCommandKeyOffset = 0;
constexpr size_t kCommandFlagsOffset = 1;
constexpr size_t kCommandCodeOffset = 2;
constexpr size_t kCommandLengthOffset = 4;
constexpr size_t kCommandRequestIdOffset = 6;
// Acknowledge header: status u16 @0, ack code u16 @2, length u16 @4, ack_id u16 @6.
constexpr size_t kAckStatusOffset = 0;
constexpr size_t kAckCodeOffset = 2;
constexpr size_t kAckLengthOffset = 4;
constexpr size_t kAckIdOffset = 6;

// A GVCP datagram fits a 576-byte IP datagram: 576 - 20 (IP) - 8 (UDP) - 8 (GVCP header).
constexpr size_t kMaxPayload = 540;
// READMEM/WRITEMEM carry a 4-byte address besides their data.
constexpr size_t kMaxMemoryCount = kMaxPayload - 4;

// Flag bits of the command header.
constexpr uint8_t kFlagAckRequired = 0x01;
constexpr uint8_t kFlagBroadcastAckAllowed = 0x10;  // DISCOVERY and FORCEIP
constexpr uint8_t kFlagExtendedIds = 0x10;          // EVENT and EVENTDATA: 64-bit block ids

enum Command : uint16_t {
    kDiscoveryCmd = 0x0002,
    kDiscoveryAck = 0x0003,
    kForceIpCmd = 0x0004,
    kForceIpAck = 0x0005,
    kPacketResendCmd = 0x0040,
    kReadRegCmd = 0x0080,
    kReadRegAck = 0x0081,
    kWriteRegCmd = 0x0082,
    kWriteRegAck = 0x0083,
    kReadMemCmd = 0x0084,
    kReadMemAck = 0x0085,
    kWriteMemCmd = 0x0086,
    kWriteMemAck = 0x0087,
    kPendingAck = 0x0089,
    kEventCmd = 0x00C0,
    kEventAck = 0x00C1,
    kEventDataCmd = 0x00C2,
    kEventDataAck = 0x00C3,
};

enum Status : uint16_t {
    kStatusSuccess = 0x0000,
    kStatusNotImplemented = 0x8001,
    kStatusInvalidParameter = 0x8002,
    kStatusInvalidAddress = 0x8003,
    kStatusWriteProtect = 0x8004,
    kStatusBadAlignment = 0x8005,
    kStatusAccessDenied = 0x8006,
    kStatusBusy = 0x8007,
};

// DISCOVERY_ACK: 8-byte header + 248-byte payload that mirrors bootstrap bytes 0x0000..0x00F7.
constexpr size_t kDiscoveryPayloadSize = 248;
constexpr size_t kDiscoveryAckSize = kHeaderSize + kDiscoveryPayloadSize;

// FORCEIP_CMD fields, offsets from the start of the datagram.
constexpr size_t kForceIpMacHighOffset = 10;  // u16
constexpr size_t kForceIpMacLowOffset = 12;   // u32
constexpr size_t kForceIpAddressOffset = 28;
constexpr size_t kForceIpMaskOffset = 44;
constexpr size_t kForceIpGatewayOffset = 60;
constexpr size_t kForceIpCommandSize = 64;

// READMEM_CMD: address u32 @8, reserved u16 @12, count u16 @14.
constexpr size_t kReadMemCountOffset = 14;
// PENDING_ACK: header + reserved u16 @8 + time to completion (ms) u16 @10.
constexpr size_t kPendingTimeOffset = 10;
constexpr size_t kPendingAckSize = 12;

// EVENT/EVENTDATA commands, offsets from the start of the datagram.
constexpr size_t kEventIdOffset = 10;
constexpr size_t kEventStreamChannelOffset = 12;
constexpr size_t kEventBlockIdOffset = 14;       // u16, standard layout
constexpr size_t kEventTimestampOffset = 16;     // u64, standard layout
constexpr size_t kEventDataOffset = 24;          // standard layout
constexpr size_t kEventExtBlockIdOffset = 16;    // u64, extended-id layout
constexpr size_t kEventExtTimestampOffset = 24;  // u64, extended-id layout
constexpr size_t kEventExtDataOffset = 32;       // extended-id layout

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline uint64_t Get64(const uint8_t* p) {
    return static_cast<uint64_t>(Get32(p)) << 32 | Get32(p + 4);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
    Put16(p, static_cast<uint16_t>(v >> 16));
    Put16(p + 2, static_cast<uint16_t>(v));
}
inline void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v >> 32));
    Put32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace GevSim::Gvcp
