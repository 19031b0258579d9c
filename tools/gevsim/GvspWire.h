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
    kPayload = 3,    // generic payload; also the test packet
    kMultiPart = 7,  // part id, zone info and offset before the data
    kGenDC = 8,      // data size, destination offset, flags and flow before the data
};

enum PayloadType : uint16_t {
    kPayloadImage = 0x0001,
    kPayloadRawData = 0x0002,
    kPayloadChunkData = 0x0004,
    kPayloadJpeg = 0x0006,
    kPayloadMultiPart = 0x000A,
    kPayloadGenDC = 0x000B,
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
// Chunk data leader: nothing after the timestamp.
constexpr size_t kChunkLeaderSize = 12;
// JPEG leader: field info u8 @0, generic flags u8 @1, then the common fields, the
// block's data size u64 @12, timestamp tick frequency u64 @20, data format u32 @28.
constexpr size_t kLeaderGenericFlagsOffset = 1;
constexpr size_t kLeaderTickFrequencyOffset = 20;
constexpr size_t kLeaderDataFormatOffset = 28;
constexpr size_t kJpegLeaderSize = 32;
// Multi-part leader: one 48-byte descriptor per part from @12; the leader's size
// tells how many parts there are. Offsets inside a descriptor:
constexpr size_t kLeaderPartsOffset = 12;
constexpr size_t kPartDescriptorSize = 48;
constexpr size_t kPartDataTypeOffset = 0;     // u16
constexpr size_t kPartLengthOffset = 2;       // u48
constexpr size_t kPartPixelFormatOffset = 8;  // u32
constexpr size_t kPartSourceIdOffset = 14;    // u8
constexpr size_t kPartZonesOffset = 15;       // u8, additional zones (0: one zone)
constexpr size_t kPartZoneDirectionsOffset = 16;
constexpr size_t kPartDataPurposeOffset = 20;  // u16
constexpr size_t kPartRegionIdOffset = 22;     // u16
constexpr size_t kPartSizeXOffset = 24;        // u32, 2D data types from here on
constexpr size_t kPartSizeYOffset = 28;
constexpr size_t kPartOffsetXOffset = 32;
constexpr size_t kPartOffsetYOffset = 36;
constexpr size_t kPartPaddingXOffset = 40;  // u16
constexpr size_t kPartPaddingYOffset = 42;  // u16; 44-47 reserved
// GenDC leader: the common fields, the container's size u64 @12, flags u8 @20,
// descriptor size u32 @24.
constexpr size_t kLeaderGenDCFlagsOffset = 20;
constexpr size_t kLeaderGenDCDescriptorSizeOffset = 24;
constexpr size_t kGenDCLeaderSize = 28;
constexpr uint8_t kGenDCPreliminaryDescriptor = 0x80;

// Data types of multi-part parts.
constexpr uint16_t kPartData2DImage = 0x0001;
constexpr uint16_t kPartData3DImage = 0x0005;
constexpr uint16_t kPartDataConfidenceMap = 0x0009;

// Trailer, after the header: reserved u16 @0, payload type u16 @2.
constexpr size_t kTrailerPayloadTypeOffset = 2;
constexpr size_t kTrailerSizeYOffset = 4;  // image types
constexpr size_t kImageTrailerSize = 8;
constexpr size_t kTrailerChunkLengthOffset = 8;     // image + extended chunk
constexpr size_t kTrailerChunkLayoutIdOffset = 12;  // image + extended chunk
constexpr size_t kChunkTrailerSize = 16;
constexpr size_t kRawTrailerSize = 4;  // also JPEG and GenDC
// Chunk data trailer: chunk payload length u32 @4.
constexpr size_t kTrailerChunkDataLengthOffset = 4;
constexpr size_t kChunkDataTrailerSize = 8;
// Multi-part trailer: one 16-byte record per part from @4: data type u16 @0, part
// length u48 @2, size Y u32 @8 (2D data types), reserved u32 @12.
constexpr size_t kTrailerPartsOffset = 4;
constexpr size_t kTrailerPartSize = 16;
constexpr size_t kTrailerPartSizeYOffset = 8;

// Multi-part data packet, after the GVSP header: part id u8 @0, zone info u8 @1,
// offset of the data in its part u48 @2, then the data.
constexpr size_t kMultiPartIdOffset = 0;
constexpr size_t kMultiPartZoneInfoOffset = 1;
constexpr size_t kMultiPartDataOffset = 2;
constexpr size_t kMultiPartHeaderSize = 8;
constexpr uint8_t kZoneInfoEndOfPart = 0x40;  // the part's last packet
// GenDC data packet, after the GVSP header: data size u32 @0, destination offset in
// the container u64 @4, data flags u8 @12, flow flags u8 @13, flow id u16 @14.
constexpr size_t kGenDCDataSizeOffset = 0;
constexpr size_t kGenDCDestinationOffset = 4;
constexpr size_t kGenDCDataFlagsOffset = 12;
constexpr size_t kGenDCFlowFlagsOffset = 13;
constexpr size_t kGenDCFlowIdOffset = 14;
constexpr size_t kGenDCHeaderSize = 16;
// Data flags: bits 7-6 say whether the packet carries descriptor bytes (1: final
// descriptor only), then start and end of the descriptor.
constexpr uint8_t kGenDCFinalDescriptor = 0x40;
constexpr uint8_t kGenDCDescriptorStart = 0x20;
constexpr uint8_t kGenDCDescriptorEnd = 0x10;
// Flow flags.
constexpr uint8_t kGenDCFlowFirst = 0x80;
constexpr uint8_t kGenDCFlowLast = 0x40;

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
