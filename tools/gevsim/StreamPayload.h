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
#pragma once

#include <cstdint>
#include <vector>

namespace GevSim {

struct StreamFormat {
    uint16_t payloadType = 0x0001;
    uint32_t pixelFormat = 0x01080001;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t paddingX = 0;  // bytes after each line
    uint32_t testPattern = 0;
};

// Payload, leader and trailer of one block; leader and trailer without the GVSP header.
struct BlockContent {
    std::vector<uint8_t> payload;
    std::vector<uint8_t> leader;
    std::vector<uint8_t> trailer;
};

class StreamPayload {
public:
    static constexpr uint32_t kChunkIdImage = 0x00000001;
    static constexpr uint32_t kChunkIdBlockInfo = 0x00000002;
    static constexpr uint32_t kBlockInfoSize = 16;

    static uint32_t BytesPerPixel(uint32_t pixelFormat);
    // Image bytes (padding included), or the raw data size.
    static uint64_t ImageBytes(const StreamFormat& format);
    // Bytes of a block's payload: what PayloadSize announces.
    static uint64_t PayloadSize(const StreamFormat& format);
    static uint32_t PixelValue(const StreamFormat& format, uint32_t x, uint32_t y,
                               uint64_t blockId);
    static uint8_t RawByte(uint64_t index, uint64_t blockId);

    static BlockContent Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                              uint32_t chunkLayoutId);
    // Ends the image after `rows` lines, as a frame cut short: the payload keeps only
    // those lines and the trailer reports them. Image types only; others unchanged.
    static void CutRows(const StreamFormat& format, uint32_t rows, BlockContent* block);
};

}  // namespace GevSim
