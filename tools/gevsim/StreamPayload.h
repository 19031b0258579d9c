// What one GVSP block carries: the payload bytes made from the test pattern, and the
// leader and trailer fields that describe them. Pure functions, any thread.
//
// The pattern makes every byte derivable from the block id and its position:
//   pixel value v(x, y) for block id b (x, y from 0; only the low bits of b matter):
//     TestPattern Off (0):               v = x + y + b
//     GreyHorizontalRamp (1):            v = x + b
//     GreyVerticalRamp (2):              v = y + b
//     GreyDiagonalRamp (3):              v = x + y        (the same in every block)
//   masked to the pixel format's depth: Mono8 & 0xFF (1 byte); Mono10 & 0x3FF,
//   Mono12 & 0xFFF, Mono16 & 0xFFFF (2 bytes each, little-endian as the pixel formats
//   are). Each line is followed by paddingX zero bytes.
//   Raw data: byte i = (i + b) & 0xFF.
// Image + extended chunk (payload type 0x4001): the image as above (padding included),
// then its tag (id kChunkIdImage, length = image bytes), then the block-info chunk:
// block id u64, timestamp u64, tag (id kChunkIdBlockInfo, length 16). So the whole
// payload also parses as chunks from its end; the trailer's chunk payload length is
// the whole payload.
//
// Blocks of changing size (JPEG, chunk data): the size comes from the block id, in
// 64-bit unsigned arithmetic, with M the maximum of the payload type:
//   JPEG (0x0006), M = width * height * bytes per pixel (PayloadSize):
//     size = M - 1 - (b * 7919) % (M / 2)     (from M / 2 to M - 1: never M)
//     byte i = (i * 7 + b) & 0xFF
//   Chunk data (0x0004), D = width * height * bytes per pixel (a multiple of 4):
//     data chunk length L = D - 4 * ((b * 7919) % (D / 8))   (D / 2 + 4 .. D)
//     data chunk byte i = (i * 3 + b) & 0xFF, then its tag (id kChunkIdData, length L),
//     then the block-info chunk as above. Payload L + 32 bytes, PayloadSize D + 32;
//     the trailer's chunk payload length is the payload of the block.
// Multi-part (0x000A), two parts one after the other:
//   part 0, a 2D image: the image as above (padding included), data purpose 2;
//   part 1, a confidence map of (width / 2) x (height / 2) Confidence8 pixels,
//     c(x, y) = (255 - x - y - b) & 0xFF, no padding, data purpose 3.
// With three parts a range map comes first, the others follow as parts 1 and 2:
//   part 0, a 3D image of width x height Mono16 pixels, data purpose 1,
//     r(x, y) = (x * 3 + y * 5 + b) & 0xFFFF, little-endian, no padding.
// GenDC (0x000B): a container whose descriptor (GenDCContainer.h) is followed by
//   the image as above (padding included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace GevSim {

struct StreamFormat {
    uint16_t payloadType = 0x0001;
    uint32_t pixelFormat = 0x01080001;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t paddingX = 0;  // bytes after each line
    uint32_t testPattern = 0;
    uint32_t parts = 2;  // multi-part: 2 or 3

    bool operator==(const StreamFormat& o) const {
        return payloadType == o.payloadType && pixelFormat == o.pixelFormat && width == o.width &&
               height == o.height && paddingX == o.paddingX && testPattern == o.testPattern &&
               parts == o.parts;
    }
    bool operator!=(const StreamFormat& o) const { return !(*this == o); }
};

// A run of payload bytes that data packets carry apart from the rest: a part of a
// multi-part block, or the descriptor or the data of a GenDC container.
struct PayloadSegment {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Payload, leader and trailer of one block; leader and trailer without the GVSP header.
struct BlockContent {
    std::vector<uint8_t> payload;
    std::vector<uint8_t> leader;
    std::vector<uint8_t> trailer;
    // The data packets' format (Gvsp::Format) and, for the multi-part and GenDC
    // formats, the segments of the payload in sending order.
    uint8_t dataFormat = 3;
    std::vector<PayloadSegment> segments;
    // Set when the payload holds the image of a pattern no block ID changes: the
    // next block of this format may reuse the storage without drawing it again.
    std::optional<StreamFormat> staticImage;
};

class StreamPayload {
public:
    static constexpr uint32_t kChunkIdImage = 0x00000001;
    static constexpr uint32_t kChunkIdBlockInfo = 0x00000002;
    static constexpr uint32_t kChunkIdData = 0x00000003;
    static constexpr uint32_t kBlockInfoSize = 16;

    static uint32_t BytesPerPixel(uint32_t pixelFormat);
    // Image bytes (padding included), or the raw data size.
    static uint64_t ImageBytes(const StreamFormat& format);
    // Bytes of the largest block's payload: what PayloadSize announces.
    static uint64_t PayloadSize(const StreamFormat& format);
    static uint32_t PixelValue(const StreamFormat& format, uint32_t x, uint32_t y,
                               uint64_t blockId);
    static uint8_t RawByte(uint64_t index, uint64_t blockId);
    // Writes the image of the test pattern, ImageBytes(format) bytes, at `out`.
    static void FillImage(const StreamFormat& format, uint64_t blockId, uint8_t* out);
    // A chunk tag (id, data length: 8 bytes), and the block-info chunk with its tag
    // (kBlockInfoSize + 8 bytes).
    static void PutChunkTag(uint8_t* at, uint32_t id, uint32_t length);
    static void PutBlockInfoChunk(uint8_t* at, uint64_t blockId, uint64_t timestamp);
    // A zeroed leader of `size` bytes with its payload type and timestamp, and a zeroed
    // trailer with its payload type.
    static std::vector<uint8_t> Leader(size_t size, uint16_t payloadType, uint64_t timestamp);
    static std::vector<uint8_t> Trailer(size_t size, uint16_t payloadType);

    // `buffer`: storage to reuse for the payload (an old block's), whatever it holds;
    // `bufferImage`: the format of the static image it holds, when it holds one.
    static BlockContent Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                              uint32_t chunkLayoutId, std::vector<uint8_t> buffer = {},
                              const std::optional<StreamFormat>& bufferImage = std::nullopt);
    // The one test pattern whose image is the same in every block (x + y).
    static bool IsStaticImage(const StreamFormat& format);
    // Ends the image after `rows` lines, as a frame cut short: the payload keeps only
    // those lines and the trailer reports them. Image types only; others unchanged.
    static void CutRows(const StreamFormat& format, uint32_t rows, BlockContent* block);
};

}  // namespace GevSim
