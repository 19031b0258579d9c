// GVSP wire format as the receiver reads it, and the PACKETRESEND command it
// sends. Pure codec: every reader checks the datagram size first. All fields
// big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GvspPayloadTypes.h"

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
// Trailer fields, offsets after the header.
constexpr size_t kTrailerPayloadType = 2, kTrailerSizeY = 4;
constexpr size_t kTrailerChunkLength = 8, kTrailerChunkLayout = 12;
// Multi-part leader: after the 12 common bytes, one 48-byte descriptor per part
// (GigE Vision 2.1; data purpose and region as 2.2 names them). Offsets inside a
// descriptor; the geometry words from kPartSizeX on hold for the image data types.
constexpr size_t kLeaderParts = 12;
constexpr size_t kPartDescriptorSize = 48;
constexpr size_t kPartDataType = 0;                     // u16
constexpr size_t kPartLength = 2;                       // u48
constexpr size_t kPartPixelFormat = 8;                  // u32; the data format of JPEG parts
constexpr size_t kPartSourceId = 14;                    // u8 (12-13 reserved)
constexpr size_t kPartAdditionalZones = 15;             // u8, low 5 bits: zones beyond the first
constexpr size_t kPartZoneDirections = 16;              // u32, bit 31 - n: zone n is sent bottom-up
constexpr size_t kPartDataPurposeId = 20;               // u16
constexpr size_t kPartRegionId = 22;                    // u16
constexpr size_t kPartSizeX = 24, kPartSizeY = 28;      // u32 each
constexpr size_t kPartOffsetX = 32, kPartOffsetY = 36;  // u32 each
constexpr size_t kPartPaddingX = 40, kPartPaddingY = 42;  // u16 each (44-47 reserved)
constexpr uint8_t kPartZonesMask = 0x1F;
constexpr size_t kMaxParts = 64;  // more than any camera describes in one leader
// Part data types that carry image geometry: 2D and 3D images and planes, confidence maps.
constexpr uint16_t kPartData2DImage = 0x0001;
constexpr uint16_t kPartDataConfidenceMap = 0x0009;

// One part as its leader descriptor gives it, and where it starts in the block:
// the parts lie one after the other in the order the leader lists them.
struct PartDescriptor {
    uint16_t dataType = 0;
    uint64_t length = 0;
    uint32_t pixelFormat = 0;
    uint8_t sourceId = 0;
    uint8_t additionalZones = 0;
    uint32_t zoneDirections = 0;
    uint16_t dataPurposeId = 0;
    uint16_t regionId = 0;
    uint32_t sizeX = 0, sizeY = 0, offsetX = 0, offsetY = 0;
    uint16_t paddingX = 0, paddingY = 0;
    uint64_t start = 0;
    uint32_t trailerSizeY = 0;  // the trailer's size Y; 0 when it gave none
};

bool HasGeometry(uint16_t partDataType);

// The descriptors of a multi-part leader, into `parts` (cleared first; its room is
// reused). Only whole descriptors the datagram holds are read, at most kMaxParts; a
// part whose length would take the block past 2^64 bytes ends the list. `total`
// receives the sum of the lengths read.
void ParseParts(const uint8_t* data, size_t size, const Header& header,
                std::vector<PartDescriptor>* parts, uint64_t* total);

// Multi-part trailer: one 16-byte record per part from 4 on, in the leader's order:
// data type u16 at 0, part length u48 at 2, size Y u32 at 8 (image data types).
constexpr size_t kTrailerParts = 4;
constexpr size_t kTrailerPartSize = 16;
constexpr size_t kTrailerPartSizeY = 8;
// Takes the size Y of each part the trailer's records describe (the records the
// datagram holds, for the parts the leader gave) into the parts' trailerSizeY.
void ParsePartTrailer(const uint8_t* data, size_t size, const Header& header,
                      std::vector<PartDescriptor>* parts);
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

// Where the data of a multi-part or GenDC packet goes, as the packet's own
// header says: `declared` bytes at `offset` (of part `part` for multi-part, of
// the container for GenDC), of which `length` are in the datagram from `from`
// on. Generic data packets carry no placement: their packet ID places them.
struct Placement {
    uint64_t offset = 0;
    size_t from = 0;
    size_t length = 0;
    uint64_t declared = 0;
    uint8_t part = 0;
};
// False for another format, or a datagram too short for its placement header.
bool ParsePlacement(const uint8_t* data, size_t size, const Header& header, Placement* place);

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
