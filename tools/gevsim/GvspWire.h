// Byte layout of the GVSP packets the camera sends: header forms, packet formats,
// payload types, leader and trailer fields, statuses and flags. Offsets of leader and
// trailer fields count from the end of the GVSP header (8 or 20 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "GvcpWire.h"

namespace GevSim::Gvsp {

// SCPS counts the IP (20) and UDP (8) headers; the GVSP datagram is what remains.
constexpr uint32_t kIpUdpHeaderSize = 28;

// 16-bit block ids, 8-byte header:
//   status u16 @0, block id u16 @2, EI|format u8 @4, packet id u24 @5.
constexpr size_t kHeaderSize = 8;
constexpr size_t kStatusOffset = 0;
constexpr size_t kBlockIdOffset = 2;
constexpr size_t kFormatOffset = 4;
constexpr size_t kPacketIdOffset = 5;
constexpr uint32_t kMaxPacketId16 = 0x00FFFFFF;
// 64-bit block ids, 20-byte header:
//   status u16 @0, flags u16 @2, EI|format u8 @4, reserved u24 @5, block id u64 @8,
//   packet id u32 @16.
constexpr size_t kExtendedHeaderSize = 20;
constexpr size_t kFlagsOffset = 2;
constexpr size_t kExtendedBlockIdOffset = 8;
constexpr size_t kExtendedPacketIdOffset = 16;
constexpr uint8_t kExtendedIdBit = 0x80;  // EI, in the format byte
constexpr uint8_t kFormatMask = 0x0F;

// Flags of the extended header.
constexpr uint16_t kFlagResent = 0x0001;
constexpr uint16_t kFlagDeviceDiscarded = 0x0002;  // leader: earlier blocks were dropped

enum Format : uint8_t {
    kLeader = 1,
    kTrailer = 2,
    kPayload = 3,  // generic payload; also the test packet
};

enum PayloadType : uint16_t {
    kPayloadImage = 0x0001,
    kPayloadRawData = 0x0002,
    kPayloadImageExtendedChunk = 0x4001,
};

// Leader, after the header. Common: reserved u16 @0, payload type u16 @2, timestamp u64 @4.
constexpr size_t kLeaderPayloadTypeOffset = 2;
constexpr size_t kLeaderTimestampOffset = 4;
// Image and image + extended chunk leaders.
constexpr size_t kLeaderPixelFormatOffset = 12;
constexpr size_t kLeaderSizeXOffset = 16;
constexpr size_t kLeaderSizeYOffset = 20;
constexpr size_t kLeaderOffsetXOffset = 24;
constexpr size_t kLeaderOffsetYOffset = 28;
constexpr size_t kLeaderPaddingXOffset = 32;  // u16
constexpr size_t kLeaderPaddingYOffset = 34;  // u16
constexpr size_t kImageLeaderSize = 36;
// Raw data leader: payload size u64 @12.
constexpr size_t kLeaderDataSizeOffset = 12;
constexpr size_t kRawLeaderSize = 20;

// Trailer, after the header: reserved u16 @0, payload type u16 @2.
constexpr size_t kTrailerPayloadTypeOffset = 2;
constexpr size_t kTrailerSizeYOffset = 4;  // image types
constexpr size_t kImageTrailerSize = 8;
constexpr size_t kTrailerChunkLengthOffset = 8;     // image + extended chunk
constexpr size_t kTrailerChunkLayoutIdOffset = 12;  // image + extended chunk
constexpr size_t kChunkTrailerSize = 16;
constexpr size_t kRawTrailerSize = 4;

// Chunks end with a tag: chunk id u32, then the length of the chunk's data u32.
constexpr size_t kChunkTagSize = 8;

constexpr uint16_t kStatusSuccess = 0x0000;
constexpr uint16_t kStatusPacketUnavailable = 0x800C;

// PACKETRESEND command payload (after the 8-byte GVCP header).
//   16-bit ids: channel u16 @0, block id u16 @2, first u32 @4, last u32 @8 (12 bytes).
//   extended ids (flag 0x10): channel u16 @0, reserved u16 @2, first u32 @4, last u32 @8,
//   block id high u32 @12, low u32 @16 (20 bytes).
constexpr size_t kResendChannelOffset = 0;
constexpr size_t kResendBlockIdOffset = 2;
constexpr size_t kResendFirstOffset = 4;
constexpr size_t kResendLastOffset = 8;
constexpr size_t kResendExtendedBlockIdOffset = 12;
constexpr size_t kResendSize = 12;
constexpr size_t kResendExtendedSize = 20;

// Writes a header at the start of `packet` (sized by the caller).
inline void PutHeader(uint8_t* packet, bool extendedIds, uint16_t status, uint16_t flags,
                      uint64_t blockId, Format format, uint32_t packetId) {
    Gvcp::Put16(packet + kStatusOffset, status);
    if (extendedIds) {
        Gvcp::Put16(packet + kFlagsOffset, flags);
        packet[kFormatOffset] = static_cast<uint8_t>(kExtendedIdBit | format);
        packet[kPacketIdOffset] = packet[kPacketIdOffset + 1] = packet[kPacketIdOffset + 2] = 0;
        Gvcp::Put64(packet + kExtendedBlockIdOffset, blockId);
        Gvcp::Put32(packet + kExtendedPacketIdOffset, packetId);
    } else {
        Gvcp::Put16(packet + kBlockIdOffset, static_cast<uint16_t>(blockId));
        packet[kFormatOffset] = format;
        packet[kPacketIdOffset] = static_cast<uint8_t>(packetId >> 16);
        packet[kPacketIdOffset + 1] = static_cast<uint8_t>(packetId >> 8);
        packet[kPacketIdOffset + 2] = static_cast<uint8_t>(packetId);
    }
}

inline size_t HeaderSize(bool extendedIds) {
    return extendedIds ? kExtendedHeaderSize : kHeaderSize;
}

}  // namespace GevSim::Gvsp
