// GVSP wire format as the receiver reads it, and the PACKETRESEND command it
// sends. Pure codec: every reader checks the datagram size first. All fields
// big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vantor {
namespace Gvsp {

// Header, 16-bit block IDs (8 bytes): status(0) block ID(2) EI+format(4) packet ID 24 bits(5).
// Header, extended IDs (20 bytes): status(0) flags(2) EI+format(4) block ID 64 bits(8)
// packet ID 32 bits(16).
constexpr size_t kHeaderSize = 8;
constexpr size_t kExtendedHeaderSize = 20;
constexpr uint8_t kExtendedIdBit = 0x80;
constexpr uint16_t kFlagResent = 0x0001;
constexpr uint16_t kFlagDeviceDiscarded = 0x0002;  // in a leader
constexpr uint16_t kStatusPacketResendProcessed = 0x800D;

enum PacketFormat : uint8_t {
    kLeader = 1,
    kTrailer = 2,
    kPayloadGeneric = 3,
    kPayloadMultiPart = 7,
    kPayloadGenDC = 8,
};

enum PayloadType : uint16_t {
    kImage = 0x0001,
    kRawData = 0x0002,
    kChunk = 0x0004,
    kExtendedChunk = 0x0005,
    kJpeg = 0x0006,
    kJpeg2000 = 0x0007,
    kMultiPart = 0x000A,
    kGenDC = 0x000B,
    kImageWithChunk = 0x4001,
    kJpegWithChunk = 0x4006,
    kJpeg2000WithChunk = 0x4007,
    kMultiPartWithChunk = 0x400A,
};

struct Header {
    uint16_t status;
    bool extended;
    uint8_t format;
    uint16_t flags;  // extended IDs only
    uint64_t blockId;
    uint32_t packetId;
    size_t size;  // 8 or 20
};

// False when the datagram is too short for its header.
bool ParseHeader(const uint8_t* data, size_t size, Header* header);

// Leader fields, offsets after the header.
constexpr size_t kLeaderPayloadType = 2, kLeaderTimestamp = 4;
constexpr size_t kLeaderPixelFormat = 12, kLeaderSizeX = 16, kLeaderSizeY = 20;
constexpr size_t kLeaderOffsetX = 24, kLeaderOffsetY = 28, kLeaderPaddingX = 32,
                 kLeaderPaddingY = 34;
constexpr size_t kLeaderRawSize = 16;    // raw data: low 32 bits of the data size
constexpr size_t kLeaderLargeSize = 12;  // GenDC and JPEG: 64-bit data size
constexpr size_t kLeaderGenDCFlags = 20;
constexpr size_t kLeaderJpegFormat = 28;
// Where each part of a multi-part block starts in the block: the running sum of
// the part lengths the leader gives (at most kMaxParts); `total` receives their sum.
std::vector<uint64_t> PartStarts(const uint8_t* data, size_t size, const Header& header,
                                 uint64_t* total);

// Trailer fields, offsets after the header.
constexpr size_t kTrailerPayloadType = 2, kTrailerSizeY = 4;
constexpr size_t kTrailerChunkLength = 8, kTrailerChunkLayout = 12;
// Multi-part leader: after the 12 common bytes, one 48-byte descriptor per part,
// each with the part's length (48 bits) at 2.
constexpr size_t kLeaderParts = 12;
constexpr size_t kPartDescriptorSize = 48;
constexpr size_t kPartLength = 2;
constexpr size_t kMaxParts = 64;  // more than any camera describes in one leader
// Multi-part data packet: 8-byte header, part id u8 at 0, zone info u8 at 1, and
// the data's offset within its part (48 bits) at 2.
constexpr size_t kMultiPartHeader = 8;
constexpr size_t kMultiPartId = 0, kMultiPartOffset = 2;
// GenDC data packet: 16-byte header, data size u32 at 0, offset in the container
// u64 at 4, data flags u8 at 12, flow flags u8 at 13, flow id u16 at 14.
constexpr size_t kGenDCHeader = 16;
constexpr size_t kGenDCDataSize = 0, kGenDCOffset = 4, kGenDCFlags = 12;

// Big-endian field of `length` bytes at `offset` after the header; 0 when the
// datagram does not reach it.
uint64_t Field(const uint8_t* data, size_t size, const Header& header, size_t offset,
               size_t length);

// Bytes per pixel of a pixel format (its size field, bits 23-16): 2 for 9-15
// bits, else the bit count / 8.
uint32_t BytesPerPixel(uint32_t pixelFormat);

// Bytes of one line of `sizeX` pixels at the format's bit count (packed formats
// share bytes), without padding. 0 when the format gives no bit count.
uint64_t LineBytes(uint32_t pixelFormat, uint32_t sizeX);

// A size that does not fit 64 bits: larger than any buffer.
constexpr uint64_t kSizeOverflow = ~uint64_t{0};

// Bytes an image of that geometry takes on the wire: lines of `sizeX` pixels at the
// format's bit count, each followed by `paddingX` bytes, then `paddingY` bytes.
// 0 when the format gives no bit count; kSizeOverflow when the product overflows.
uint64_t ImageBytes(uint32_t pixelFormat, uint32_t sizeX, uint32_t sizeY, uint32_t paddingX,
                    uint32_t paddingY);

bool IsImage(uint16_t payloadType);
// Payload types whose data carries chunks: the extended-chunk ones (bit 0x4000)
// and chunk data alone.
bool HasChunks(uint16_t payloadType);

// PACKETRESEND: 20 bytes with 16-bit IDs, 28 with extended IDs; no acknowledge.
constexpr size_t kResendSize = 20, kResendExtendedSize = 28;
size_t BuildPacketResend(uint8_t* out, uint16_t requestId, uint64_t blockId, uint32_t first,
                         uint32_t last, bool extended);

// The test-data sequence of a test packet, byte after byte.
class TestDataSequence {
public:
    uint8_t Next() {
        const uint8_t byte = static_cast<uint8_t>(m_state);
        m_state = static_cast<uint16_t>((m_state >> 1) ^ ((m_state & 1) ? 0x8016 : 0));
        return byte;
    }

private:
    uint16_t m_state = 0xFFFF;
};

}  // namespace Gvsp
}  // namespace Vantor
