// The GVSP codec on byte arrays: headers of both block-ID widths, where a
// packet's own header places its data, image sizes from the pixel format, and
// PACKETRESEND exactly as it goes on the wire.
#include <gtest/gtest.h>

#include <vector>

#include "GvspPackets.h"

using namespace Vantor;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kMono12Packed = 0x010C0006;
constexpr uint32_t kRgb8 = 0x02180014;

}  // namespace

TEST(GvspHeader, SixteenBitAndExtendedIdsAreReadFromTheirOwnPlaces) {
    Gvsp::Header header{};
    // status 0x0001, block 0xBEEF, format 3 (generic payload), packet 0x012345.
    const Bytes shortIds{0x00, 0x01, 0xBE, 0xEF, 0x03, 0x01, 0x23, 0x45};
    ASSERT_TRUE(Gvsp::ParseHeader(shortIds.data(), shortIds.size(), &header));
    EXPECT_FALSE(header.extended);
    EXPECT_EQ(header.status, 0x0001);
    EXPECT_EQ(header.blockId, 0xBEEFu);
    EXPECT_EQ(header.format, Gvsp::kPayloadGeneric);
    EXPECT_EQ(header.packetId, 0x012345u);
    EXPECT_EQ(header.flags, 0);
    EXPECT_EQ(header.size, Gvsp::kHeaderSize);

    // flags 0x0001 (resent), EI + format 2 (trailer), block 0x0102030405060708, packet 0x0A0B0C0D.
    const Bytes wide{0x00, 0x00, 0x00, 0x01, 0x82, 0x00, 0x00, 0x00, 0x01, 0x02,
                     0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x0D};
    ASSERT_TRUE(Gvsp::ParseHeader(wide.data(), wide.size(), &header));
    EXPECT_TRUE(header.extended);
    EXPECT_EQ(header.flags, Gvsp::kFlagResent);
    EXPECT_EQ(header.format, Gvsp::kTrailer);
    EXPECT_EQ(header.blockId, 0x0102030405060708u);
    EXPECT_EQ(header.packetId, 0x0A0B0C0Du);
    EXPECT_EQ(header.size, Gvsp::kExtendedHeaderSize);
}

TEST(GvspHeader, DatagramsShorterThanTheirHeaderAreRefused) {
    Gvsp::Header header{};
    const Bytes seven(7, 0);
    EXPECT_FALSE(Gvsp::ParseHeader(seven.data(), seven.size(), &header));
    Bytes extended(19, 0);
    extended[4] = Gvsp::kExtendedIdBit | Gvsp::kLeader;
    EXPECT_FALSE(Gvsp::ParseHeader(extended.data(), extended.size(), &header))
        << "an extended header needs all 20 bytes";
    // Fields past the datagram read as 0, never past its end.
    extended.resize(20);
    ASSERT_TRUE(Gvsp::ParseHeader(extended.data(), extended.size(), &header));
    EXPECT_EQ(Gvsp::Field(extended.data(), extended.size(), header, 0, 2), 0u);
    EXPECT_EQ(Gvsp::Field(extended.data(), extended.size(), header, Gvsp::kLeaderSizeX, 4), 0u);
}

TEST(GvspPlacement, MultiPartAndGenDCPacketsSayWhereTheirDataGoes) {
    Gvsp::Header header{};
    // Multi-part, 16-bit IDs: part 2, offset 0x000000010203 within the part, 5 data bytes.
    const Bytes multiPart{0x00, 0x00, 0x00, 0x07, 0x07, 0x00, 0x00, 0x03,  // header
                          0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03,  // part, offset
                          1,    2,    3,    4,    5};
    ASSERT_TRUE(Gvsp::ParseHeader(multiPart.data(), multiPart.size(), &header));
    Gvsp::Placement place;
    ASSERT_TRUE(Gvsp::ParsePlacement(multiPart.data(), multiPart.size(), header, &place));
    EXPECT_EQ(place.part, 2);
    EXPECT_EQ(place.offset, 0x010203u);
    EXPECT_EQ(place.from, Gvsp::kHeaderSize + Gvsp::kMultiPartHeader);
    EXPECT_EQ(place.length, 5u);
    EXPECT_EQ(place.declared, 5u);

    // GenDC declaring 100 bytes at offset 0x1000 but carrying 4: only 4 are there.
    Bytes genDC{0x00, 0x00, 0x00, 0x09, 0x08, 0x00, 0x00, 0x02};
    const Bytes genDCHeader{0x00, 0x00, 0x00, 100, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0, 0, 0, 0};
    genDC.insert(genDC.end(), genDCHeader.begin(), genDCHeader.end());
    genDC.insert(genDC.end(), {9, 9, 9, 9});
    ASSERT_TRUE(Gvsp::ParseHeader(genDC.data(), genDC.size(), &header));
    ASSERT_TRUE(Gvsp::ParsePlacement(genDC.data(), genDC.size(), header, &place));
    EXPECT_EQ(place.declared, 100u);
    EXPECT_EQ(place.offset, 0x1000u);
    EXPECT_EQ(place.from, Gvsp::kHeaderSize + Gvsp::kGenDCHeader);
    EXPECT_EQ(place.length, 4u) << "the declared size never reaches past the datagram";

    // Cut inside the placement header, or a format that carries none.
    genDC.resize(Gvsp::kHeaderSize + Gvsp::kGenDCHeader - 1);
    EXPECT_FALSE(Gvsp::ParsePlacement(genDC.data(), genDC.size(), header, &place));
    const Bytes generic{0x00, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x01, 7};
    ASSERT_TRUE(Gvsp::ParseHeader(generic.data(), generic.size(), &header));
    EXPECT_FALSE(Gvsp::ParsePlacement(generic.data(), generic.size(), header, &place));
}

TEST(GvspImageSize, LinesFollowTheFormatsBitCountWithPaddingAndOverflowIsCaught) {
    EXPECT_EQ(Gvsp::LineBytes(kMono8, 640), 640u);
    EXPECT_EQ(Gvsp::LineBytes(kMono12Packed, 5), 8u) << "12-bit pixels share bytes, rounded up";
    EXPECT_EQ(Gvsp::LineBytes(kRgb8, 10), 30u);
    EXPECT_EQ(Gvsp::BytesPerPixel(kMono12Packed), 2u);
    EXPECT_EQ(Gvsp::ImageBytes(kMono8, 640, 480, 0, 0), 640u * 480);
    EXPECT_EQ(Gvsp::ImageBytes(kMono8, 10, 3, 2, 5), (10u + 2) * 3 + 5);
    EXPECT_EQ(Gvsp::ImageBytes(0, 640, 480, 0, 0), 0u) << "no bit count, no size";
    EXPECT_EQ(Gvsp::ImageBytes(kRgb8, 0xFFFFFFFF, 0x10000, 0xFFFF, 0xFFFF),
              (uint64_t{0xFFFFFFFF} * 3 + 0xFFFF) * 0x10000 + 0xFFFF);
    EXPECT_EQ(Gvsp::ImageBytes(kRgb8, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 0xFFFF), Gvsp::kSizeOverflow)
        << "a size past 64 bits is larger than any buffer, not a wrapped small one";
}

TEST(GvspResend, PacketResendIsBigEndianWithTheBlockIdWhereItsWidthPutsIt) {
    uint8_t out[Gvsp::kResendExtendedSize];
    ASSERT_EQ(Gvsp::BuildPacketResend(out, 0x0102, 0xABCD, 3, 7, false), Gvsp::kResendSize);
    EXPECT_EQ(Bytes(out, out + Gvsp::kResendSize),
              (Bytes{0x42, 0x00, 0x00, 0x40, 0x00, 0x0C, 0x01, 0x02, 0x00, 0x00,
                     0xAB, 0xCD, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x07}));

    ASSERT_EQ(Gvsp::BuildPacketResend(out, 0xFFFF, 0x1122334455667788, 0, 0, true),
              Gvsp::kResendExtendedSize);
    EXPECT_EQ(
        Bytes(out, out + Gvsp::kResendExtendedSize),
        (Bytes{0x42, 0x10, 0x00, 0x40, 0x00, 0x14, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}))
        << "the 16-bit field is 0 and the 64-bit ID follows the packet range";
}

TEST(GvspPayloadTypes, ChunkCarryingTypesAreTheExtendedChunkOnesAndChunkData) {
    EXPECT_TRUE(Gvsp::IsImage(Gvsp::kImage));
    EXPECT_TRUE(Gvsp::IsImage(Gvsp::kImageWithChunk));
    EXPECT_FALSE(Gvsp::IsImage(Gvsp::kJpeg));
    for (uint16_t type : {Gvsp::kImageWithChunk, Gvsp::kJpegWithChunk, Gvsp::kChunk,
                          Gvsp::kExtendedChunk, Gvsp::kMultiPartWithChunk})
        EXPECT_TRUE(Gvsp::HasChunks(type)) << type;
    for (uint16_t type : {Gvsp::kImage, Gvsp::kRawData, Gvsp::kMultiPart, Gvsp::kGenDC})
        EXPECT_FALSE(Gvsp::HasChunks(type)) << type;
}
