#include "StreamPayload.h"

#include <algorithm>

#include "GenDCContainer.h"
#include "GvspWire.h"
#include "MultiPartPayload.h"
#include "PatternFill.h"
#include "VariablePayload.h"

namespace GevSim {

using namespace Gvsp;
using Gvcp::Put16;
using Gvcp::Put32;
using Gvcp::Put64;

namespace {

bool IsImage(uint16_t payloadType) {
    return payloadType == kPayloadImage || payloadType == kPayloadImageExtendedChunk;
}

uint64_t LineBytes(const StreamFormat& format) {
    return uint64_t{format.width} * StreamPayload::BytesPerPixel(format.pixelFormat) +
           format.paddingX;
}

uint32_t DepthMask(uint32_t pixelFormat) {
    const uint32_t bits = (pixelFormat >> 16) & 0xFF;  // occupied bits per pixel
    switch (pixelFormat) {
        case 0x01100003:  // Mono10
            return 0x3FF;
        case 0x01100005:  // Mono12
            return 0xFFF;
        default:
            return bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1;
    }
}

}  // namespace

uint32_t StreamPayload::BytesPerPixel(uint32_t pixelFormat) {
    return std::max<uint32_t>(1, ((pixelFormat >> 16) & 0xFF) / 8);
}

uint64_t StreamPayload::ImageBytes(const StreamFormat& format) {
    return LineBytes(format) * format.height;
}

uint64_t StreamPayload::PayloadSize(const StreamFormat& format) {
    switch (format.payloadType) {
        case kPayloadRawData:
            return uint64_t{format.width} * format.height * BytesPerPixel(format.pixelFormat);
        case kPayloadJpeg:
        case kPayloadChunkData:
            return VariablePayload::MaxSize(format);
        case kPayloadMultiPart:
            return MultiPartPayload::Size(format);
        case kPayloadGenDC:
            return GenDCContainer::Size(format);
        default:
            break;
    }
    uint64_t size = ImageBytes(format);
    if (format.payloadType == kPayloadImageExtendedChunk)
        size += kChunkTagSize + kBlockInfoSize + kChunkTagSize;
    return size;
}

uint32_t StreamPayload::PixelValue(const StreamFormat& format, uint32_t x, uint32_t y,
                                   uint64_t blockId) {
    const auto b = static_cast<uint32_t>(blockId);
    uint32_t value = 0;
    switch (format.testPattern) {
        case 1:
            value = x + b;
            break;
        case 2:
            value = y + b;
            break;
        case 3:
            value = x + y;
            break;
        default:
            value = x + y + b;
            break;
    }
    return value & DepthMask(format.pixelFormat);
}

uint8_t StreamPayload::RawByte(uint64_t index, uint64_t blockId) {
    return static_cast<uint8_t>(index + blockId);
}

// Rows are copied, not computed pixel by pixel: every pattern but the vertical ramp is
// v = j + base with j = x (+ y), so row y is a window of one ramp of width + height
// pixels, starting y pixels in (or at 0 when v does not depend on y).
void StreamPayload::FillImage(const StreamFormat& format, uint64_t blockId, uint8_t* out) {
    const uint32_t bpp = BytesPerPixel(format.pixelFormat);
    const uint32_t mask = DepthMask(format.pixelFormat);
    const auto b = static_cast<uint32_t>(blockId);
    const uint64_t line = LineBytes(format);
    const size_t rowBytes = size_t{format.width} * bpp;
    auto put = [bpp](uint8_t* at, uint32_t value) {
        for (uint32_t i = 0; i < bpp; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
    };
    auto pad = [&](uint8_t* row) { std::fill_n(row + rowBytes, format.paddingX, 0); };
    if (format.testPattern == 2) {  // one value per row
        for (uint32_t y = 0; y < format.height; ++y) {
            uint8_t* row = out + y * line;
            if (rowBytes > 0) put(row, (y + b) & mask);
            RepeatPrefix(row, bpp, rowBytes);
            pad(row);
        }
        return;
    }
    const uint32_t base = format.testPattern == 3 ? 0 : b;
    const uint32_t rowStep = format.testPattern == 1 ? 0 : 1;
    std::vector<uint8_t> ramp((size_t{format.width} + size_t{format.height} * rowStep) * bpp);
    for (size_t j = 0; j * bpp < ramp.size(); ++j)
        put(&ramp[j * bpp], (static_cast<uint32_t>(j) + base) & mask);
    for (uint32_t y = 0; y < format.height; ++y) {
        uint8_t* row = out + y * line;
        std::copy_n(ramp.data() + size_t{y} * rowStep * bpp, rowBytes, row);
        pad(row);
    }
}

void StreamPayload::PutChunkTag(uint8_t* at, uint32_t id, uint32_t length) {
    Put32(at, id);
    Put32(at + 4, length);
}

void StreamPayload::PutBlockInfoChunk(uint8_t* at, uint64_t blockId, uint64_t timestamp) {
    Put64(at, blockId);
    Put64(at + 8, timestamp);
    PutChunkTag(at + kBlockInfoSize, kChunkIdBlockInfo, kBlockInfoSize);
}

std::vector<uint8_t> StreamPayload::Leader(size_t size, uint16_t payloadType, uint64_t timestamp) {
    std::vector<uint8_t> leader(size, 0);
    Put16(&leader[kLeaderPayloadTypeOffset], payloadType);
    Put64(&leader[kLeaderTimestampOffset], timestamp);
    return leader;
}

std::vector<uint8_t> StreamPayload::Trailer(size_t size, uint16_t payloadType) {
    std::vector<uint8_t> trailer(size, 0);
    Put16(&trailer[kTrailerPayloadTypeOffset], payloadType);
    return trailer;
}

bool StreamPayload::IsStaticImage(const StreamFormat& format) {
    return IsImage(format.payloadType) && format.testPattern == 3;
}

// Every builder writes every payload byte, so a reused buffer needs no clearing.
BlockContent StreamPayload::Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                                  uint32_t chunkLayoutId, std::vector<uint8_t> buffer,
                                  const std::optional<StreamFormat>& bufferImage) {
    switch (format.payloadType) {
        case kPayloadJpeg:
            return VariablePayload::BuildJpeg(format, blockId, timestamp, std::move(buffer));
        case kPayloadChunkData:
            return VariablePayload::BuildChunkData(format, blockId, timestamp, std::move(buffer));
        case kPayloadMultiPart:
            return MultiPartPayload::Build(format, blockId, timestamp, std::move(buffer));
        case kPayloadGenDC:
            return GenDCContainer::Build(format, blockId, timestamp, std::move(buffer));
        default:
            break;
    }
    // Drawn once per storage when the image is the same in every block: what a camera
    // sending a still scene costs to simulate.
    const bool drawn =
        IsStaticImage(format) && bufferImage == format && buffer.size() == PayloadSize(format);
    BlockContent block;
    block.payload = std::move(buffer);
    block.payload.resize(PayloadSize(format));
    const bool image = IsImage(format.payloadType);
    if (image) {
        if (!drawn) FillImage(format, blockId, block.payload.data());
        if (IsStaticImage(format)) block.staticImage = format;
    } else {
        FillPeriodic(block.payload.data(), block.payload.size(), 256,
                     [blockId](size_t i) { return RawByte(i, blockId); });
    }
    if (format.payloadType == kPayloadImageExtendedChunk) {
        const uint64_t imageBytes = ImageBytes(format);
        PutChunkTag(&block.payload[imageBytes], kChunkIdImage, static_cast<uint32_t>(imageBytes));
        PutBlockInfoChunk(&block.payload[imageBytes + kChunkTagSize], blockId, timestamp);
    }

    block.leader.assign(image ? kImageLeaderSize : kRawLeaderSize, 0);
    Put16(&block.leader[kLeaderPayloadTypeOffset], format.payloadType);
    Put64(&block.leader[kLeaderTimestampOffset], timestamp);
    if (image) {
        Put32(&block.leader[kLeaderPixelFormatOffset], format.pixelFormat);
        Put32(&block.leader[kLeaderSizeXOffset], format.width);
        Put32(&block.leader[kLeaderSizeYOffset], format.height);
        Put16(&block.leader[kLeaderPaddingXOffset], static_cast<uint16_t>(format.paddingX));
    } else {
        Put64(&block.leader[kLeaderDataSizeOffset], block.payload.size());
    }

    if (format.payloadType == kPayloadImage) {
        block.trailer.assign(kImageTrailerSize, 0);
    } else if (format.payloadType == kPayloadImageExtendedChunk) {
        block.trailer.assign(kChunkTrailerSize, 0);
        Put32(&block.trailer[kTrailerChunkLengthOffset],
              static_cast<uint32_t>(block.payload.size()));
        Put32(&block.trailer[kTrailerChunkLayoutIdOffset], chunkLayoutId);
    } else {
        block.trailer.assign(kRawTrailerSize, 0);
    }
    Put16(&block.trailer[kTrailerPayloadTypeOffset], format.payloadType);
    if (image) Put32(&block.trailer[kTrailerSizeYOffset], format.height);
    return block;
}

void StreamPayload::CutRows(const StreamFormat& format, uint32_t rows, BlockContent* block) {
    if (!IsImage(format.payloadType) || rows >= format.height) return;
    block->payload.resize(LineBytes(format) * rows);
    block->staticImage.reset();  // the rows cut off are gone from the storage too
    Put32(&block->trailer[kTrailerSizeYOffset], rows);
    if (format.payloadType == kPayloadImageExtendedChunk)
        Put32(&block->trailer[kTrailerChunkLengthOffset],
              static_cast<uint32_t>(block->payload.size()));
}

}  // namespace GevSim
