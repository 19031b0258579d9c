#include "VariablePayload.h"

#include "Bootstrap.h"
#include "GvspWire.h"
#include "PatternFill.h"

namespace GevSim {

using namespace Gvsp;
using Gvcp::Put32;
using Gvcp::Put64;

namespace {

// A prime stride, so that neighbouring block ids get sizes far apart.
constexpr uint64_t kSizeStride = 7919;
// Chunk data lengths are whole 32-bit words.
constexpr uint64_t kChunkAlign = 4;
// The data bytes are (i * k + b) & 0xFF: they repeat every 256 bytes.
constexpr size_t kBytePeriod = 256;
constexpr uint64_t kBlockInfoChunk = StreamPayload::kBlockInfoSize + kChunkTagSize;

uint64_t PixelBytes(const StreamFormat& format) {
    return uint64_t{format.width} * format.height *
           StreamPayload::BytesPerPixel(format.pixelFormat);
}

}  // namespace

uint64_t VariablePayload::MaxSize(const StreamFormat& format) {
    if (format.payloadType == kPayloadChunkData)
        return PixelBytes(format) + kChunkTagSize + kBlockInfoChunk;
    return PixelBytes(format);
}

uint64_t VariablePayload::JpegSize(const StreamFormat& format, uint64_t blockId) {
    const uint64_t max = PixelBytes(format);
    if (max < 2) return max;
    return max - 1 - (blockId * kSizeStride) % (max / 2);
}

uint8_t VariablePayload::JpegByte(uint64_t index, uint64_t blockId) {
    return static_cast<uint8_t>(index * 7 + blockId);
}

uint32_t VariablePayload::DataChunkLength(const StreamFormat& format, uint64_t blockId) {
    const uint64_t max = PixelBytes(format) / kChunkAlign * kChunkAlign;
    const uint64_t steps = max / (2 * kChunkAlign);
    if (steps == 0) return static_cast<uint32_t>(max);
    return static_cast<uint32_t>(max - kChunkAlign * ((blockId * kSizeStride) % steps));
}

uint8_t VariablePayload::DataChunkByte(uint64_t index, uint64_t blockId) {
    return static_cast<uint8_t>(index * 3 + blockId);
}

BlockContent VariablePayload::BuildJpeg(const StreamFormat& format, uint64_t blockId,
                                        uint64_t timestamp) {
    BlockContent block;
    block.payload.resize(JpegSize(format, blockId));
    FillPeriodic(block.payload.data(), block.payload.size(), kBytePeriod,
                 [blockId](size_t i) { return JpegByte(i, blockId); });
    // Generic flags and data format stay 0: a baseline JPEG, nothing device specific.
    block.leader = StreamPayload::Leader(kJpegLeaderSize, kPayloadJpeg, timestamp);
    Put64(&block.leader[kLeaderDataSizeOffset], block.payload.size());
    Put64(&block.leader[kLeaderTickFrequencyOffset], Bootstrap::kTickFrequency);
    block.trailer = StreamPayload::Trailer(kRawTrailerSize, kPayloadJpeg);
    return block;
}

BlockContent VariablePayload::BuildChunkData(const StreamFormat& format, uint64_t blockId,
                                             uint64_t timestamp) {
    const uint32_t length = DataChunkLength(format, blockId);
    BlockContent block;
    block.payload.resize(length + kChunkTagSize + kBlockInfoChunk);
    FillPeriodic(block.payload.data(), length, kBytePeriod,
                 [blockId](size_t i) { return DataChunkByte(i, blockId); });
    StreamPayload::PutChunkTag(&block.payload[length], StreamPayload::kChunkIdData, length);
    StreamPayload::PutBlockInfoChunk(&block.payload[length + kChunkTagSize], blockId, timestamp);
    block.leader = StreamPayload::Leader(kChunkLeaderSize, kPayloadChunkData, timestamp);
    block.trailer = StreamPayload::Trailer(kChunkDataTrailerSize, kPayloadChunkData);
    Put32(&block.trailer[kTrailerChunkDataLengthOffset],
          static_cast<uint32_t>(block.payload.size()));
    return block;
}

}  // namespace GevSim
