// Block payloads against the test pattern's formulas, written here from the
// simulator's documentation: every pattern, pixel depth and padding, block ids that
// wrap the pixel values, and the raw, JPEG, chunk data and multi-part bytes. The
// simulator copies rows and repeats runs instead of computing each byte; this checks
// that the bytes are still the formulas'. No sockets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "StreamPayload.h"

namespace {

using GevSim::StreamFormat;
using GevSim::StreamPayload;

struct Depth {
    uint32_t pixelFormat;
    uint32_t bytes;
    uint32_t mask;
};

const Depth kDepths[] = {
    {0x01080001, 1, 0xFF}, {0x01100003, 2, 0x3FF}, {0x01100005, 2, 0xFFF}, {0x01100007, 2, 0xFFFF}};
const uint64_t kBlocks[] = {1, 200, 0x10007, 0xFFFFFFFFull + 9};

uint32_t Pixel(uint32_t pattern, uint32_t x, uint32_t y, uint64_t block) {
    const auto b = static_cast<uint32_t>(block);
    switch (pattern) {
        case 1:
            return x + b;
        case 2:
            return y + b;
        case 3:
            return x + y;
        default:
            return x + y + b;
    }
}

TEST(PayloadPattern, ImagesFollowTheFormulaForEveryPatternDepthAndPadding) {
    for (const Depth& depth : kDepths)
        for (uint32_t pattern : {0u, 1u, 2u, 3u})
            for (uint32_t padding : {0u, 3u})
                for (uint64_t block : kBlocks) {
                    StreamFormat format;
                    format.pixelFormat = depth.pixelFormat;
                    format.width = 300;  // wider than one period of Mono8
                    format.height = 21;
                    format.paddingX = padding;
                    format.testPattern = pattern;
                    const auto content = StreamPayload::Build(format, block, 7, 0);
                    const size_t line = 300 * depth.bytes + padding;
                    ASSERT_EQ(content.payload.size(), line * 21);
                    size_t wrong = 0;
                    for (uint32_t y = 0; y < 21; ++y) {
                        const uint8_t* row = content.payload.data() + y * line;
                        for (uint32_t x = 0; x < 300; ++x) {
                            const uint32_t v = Pixel(pattern, x, y, block) & depth.mask;
                            for (uint32_t i = 0; i < depth.bytes; ++i)
                                wrong +=
                                    row[x * depth.bytes + i] != static_cast<uint8_t>(v >> (8 * i));
                        }
                        for (uint32_t i = 0; i < padding; ++i)
                            wrong += row[300 * depth.bytes + i] != 0;
                    }
                    EXPECT_EQ(wrong, 0u)
                        << "format " << std::hex << depth.pixelFormat << std::dec << " pattern "
                        << pattern << " padding " << padding << " block " << block;
                }
}

TEST(PayloadPattern, RawJpegAndChunkDataBytesFollowTheirFormulas) {
    StreamFormat format;
    format.width = 96;
    format.height = 50;
    for (uint64_t block : kBlocks) {
        format.payloadType = 0x0002;
        const auto raw = StreamPayload::Build(format, block, 7, 0).payload;
        ASSERT_EQ(raw.size(), 96u * 50u);
        for (size_t i = 0; i < raw.size(); ++i)
            ASSERT_EQ(raw[i], static_cast<uint8_t>(i + block)) << "raw byte " << i;

        format.payloadType = 0x0006;
        const auto jpeg = StreamPayload::Build(format, block, 7, 0).payload;
        ASSERT_GE(jpeg.size(), 96u * 50u / 2);
        for (size_t i = 0; i < jpeg.size(); ++i)
            ASSERT_EQ(jpeg[i], static_cast<uint8_t>(i * 7 + block)) << "jpeg byte " << i;

        format.payloadType = 0x0004;
        const auto chunk = StreamPayload::Build(format, block, 7, 0).payload;
        ASSERT_GT(chunk.size(), 32u);
        const size_t length = chunk.size() - 32;  // data, its tag, the block-info chunk
        EXPECT_EQ(chunk[length + 4] << 24 | chunk[length + 5] << 16 | chunk[length + 6] << 8 |
                      chunk[length + 7],
                  static_cast<int>(length));
        for (size_t i = 0; i < length; ++i)
            ASSERT_EQ(chunk[i], static_cast<uint8_t>(i * 3 + block)) << "chunk data byte " << i;
    }
}

TEST(PayloadPattern, MultiPartRangeImageAndConfidenceFollowTheirFormulas) {
    StreamFormat format;
    format.payloadType = 0x000A;
    format.width = 64;
    format.height = 24;
    format.parts = 3;
    for (uint64_t block : kBlocks) {
        const auto payload = StreamPayload::Build(format, block, 7, 0).payload;
        const size_t range = 64 * 24 * 2, image = 64 * 24, confidence = 32 * 12;
        ASSERT_EQ(payload.size(), range + image + confidence);
        size_t wrong = 0;
        for (uint32_t y = 0; y < 24; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                const auto r = static_cast<uint16_t>(x * 3 + y * 5 + block);
                const size_t at = (y * 64 + x) * 2;
                wrong += payload[at] != static_cast<uint8_t>(r);
                wrong += payload[at + 1] != static_cast<uint8_t>(r >> 8);
                wrong += payload[range + y * 64 + x] != static_cast<uint8_t>(x + y + block);
            }
        for (uint32_t y = 0; y < 12; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                wrong += payload[range + image + y * 32 + x] !=
                         static_cast<uint8_t>(255 - x - y - block);
        EXPECT_EQ(wrong, 0u) << "block " << block;
    }
}

}  // namespace

namespace {

TEST(PayloadPattern, AReusedBufferGivesTheSameBytesAsAFreshOne) {
    const std::pair<uint16_t, uint32_t> types[] = {{0x0001, 2}, {0x4001, 2}, {0x0002, 2},
                                                   {0x0004, 2}, {0x0006, 2}, {0x000A, 2},
                                                   {0x000A, 3}, {0x000B, 2}};
    for (const auto& [type, parts] : types)
        for (size_t old : {size_t{10}, size_t{200000}}) {
            StreamFormat format;
            format.payloadType = type;
            format.parts = parts;
            format.width = 120;
            format.height = 40;
            format.paddingX = type == 0x0001 ? 2 : 0;
            const auto fresh = StreamPayload::Build(format, 77, 5, 1);
            const auto reused =
                StreamPayload::Build(format, 77, 5, 1, std::vector<uint8_t>(old, 0xA5));
            EXPECT_EQ(reused.payload, fresh.payload)
                << "type " << std::hex << type << std::dec << ", old buffer of " << old;
        }
}

}  // namespace

namespace {

// The still pattern is drawn once per storage; every other case, and a storage whose
// rows were cut or whose format changed, is drawn again.
TEST(PayloadPattern, AStillImageIsReusedOnlyWhereItsStorageStillHoldsIt) {
    StreamFormat still;
    still.payloadType = 0x4001;  // the chunk after the image is written per block
    still.width = 64;
    still.height = 8;
    still.testPattern = 3;
    auto first = StreamPayload::Build(still, 1, 5, 1);
    ASSERT_TRUE(first.staticImage.has_value());
    const std::vector<uint8_t> expected = StreamPayload::Build(still, 2, 6, 1).payload;

    // Reused as is: bytes that no block ID changes stay, the chunk is the block's.
    std::vector<uint8_t> storage = first.payload;
    auto second = StreamPayload::Build(still, 2, 6, 1, storage, first.staticImage);
    EXPECT_EQ(second.payload, expected);
    // What it is told the storage holds is what is kept: a scribbled pixel stays,
    // which shows the image was not drawn again.
    storage[0] ^= 0xFF;
    auto kept = StreamPayload::Build(still, 2, 6, 1, storage, first.staticImage);
    EXPECT_EQ(kept.payload[0], expected[0] ^ 0xFF);

    // Another format, a storage without the image, a moving pattern: drawn again.
    StreamFormat wider = still;
    wider.width = 72;
    EXPECT_EQ(StreamPayload::Build(wider, 3, 7, 1, storage, first.staticImage).payload,
              StreamPayload::Build(wider, 3, 7, 1).payload);
    EXPECT_EQ(StreamPayload::Build(still, 2, 6, 1, storage, std::nullopt).payload, expected);
    StreamFormat moving = still;
    moving.testPattern = 0;
    auto movingFirst = StreamPayload::Build(moving, 1, 5, 1);
    EXPECT_FALSE(movingFirst.staticImage.has_value());
    EXPECT_EQ(StreamPayload::Build(moving, 2, 6, 1, movingFirst.payload, still).payload,
              StreamPayload::Build(moving, 2, 6, 1).payload);

    // Rows cut off a block are gone from its storage: the next block draws them.
    still.payloadType = 0x0001;
    auto cut = StreamPayload::Build(still, 4, 8, 1);
    StreamPayload::CutRows(still, 3, &cut);
    EXPECT_FALSE(cut.staticImage.has_value());
    EXPECT_EQ(StreamPayload::Build(still, 5, 9, 1, cut.payload, cut.staticImage).payload,
              StreamPayload::Build(still, 5, 9, 1).payload);
}

}  // namespace
