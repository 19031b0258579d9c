// Hand-out of delivered blocks from a device slot: X padding removed in the
// copy (packed and sub-byte formats too), images cut to the destination and
// said so, chunk data kept, zero-copy slots and their return, and the
// frame-rate meter.
#include <gtest/gtest.h>

#include <vector>

#include "DeviceTable.h"
#include "GvspPackets.h"
#include "StreamInternal.h"
#include "VantorLib.h"

using namespace Vantor;

namespace {

constexpr uint8_t kHandle = 9;

class ImageDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        slot = SlotOf(kHandle);
        slot->stream.Reset();
        slot->record.streamTimeout = 50;
        slot->inUse = true;
    }
    void TearDown() override {
        FreeRing(slot->stream);
        slot->stream.Reset();
        slot->inUse = false;
    }
    // A ring for `payload` bytes and one delivered block filled by `fill`.
    GevBufferDescriptor* Deliver(uint32_t payload, uint32_t width, uint32_t height,
                                 uint16_t paddingX, uint32_t trailerHeight) {
        StreamState& stream = slot->stream;
        stream.settings.payloadSize = payload;
        stream.settings.packetDataSize = 1024;
        stream.settings.packetsPerBlock = (payload + 1023) / 1024;
        stream.bufferCount = 2;
        EXPECT_TRUE(BuildRing(stream));
        GevBufferDescriptor* block = stream.queued.TakeHead();
        for (uint32_t i = 0; i < payload; ++i) block->data[i] = static_cast<uint8_t>(i % 251);
        block->pixelFormat = 0x01080001;
        block->payloadType = Gvsp::kImage;
        block->filled = block->dataEnd = payload;
        block->sizeX = width;
        block->sizeY = height;
        block->paddingX = paddingX;
        block->trailerSizeY = trailerHeight;
        block->blockId = 42;
        stream.delivered.Append(block);
        {
            std::lock_guard<std::mutex> guard(stream.imageLock);
            stream.imageSignalled = true;
        }
        return block;
    }

    DeviceSlot* slot = nullptr;
};

}  // namespace

TEST_F(ImageDelivery, PaddingIsRemovedRowByRow) {
    // 10 x 4 pixels with 6 bytes of padding after each row.
    Deliver(64, 10, 4, 6, 4);
    std::vector<uint8_t> image(64, 0xFF);
    GevImageInfo info{};
    ASSERT_EQ(GEVGetImageBuffer(kHandle, &info, image.data()), kGevOk);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(image[y * 10 + x], (y * 16 + x) % 251);
    EXPECT_EQ(info.blockId, 42u);
    EXPECT_EQ(info.paddingX, 0) << "the copy describes the lines it holds";
    EXPECT_EQ(slot->stream.queued.Count(), 2u) << "the slot went back to the free list";
}

TEST_F(ImageDelivery, ShortImagesAreCopiedAtTheirHeight) {
    GevBufferDescriptor* block = Deliver(40, 10, 4, 0, 2);
    block->filled = 20;
    std::vector<uint8_t> image(40, 0xFF);
    GevImageInfo info{};
    GevImageExtent extent{};
    ASSERT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, image.data(), image.size()), kGevOk);
    EXPECT_EQ(info.sizeY, 2u);
    EXPECT_EQ(image[19], 19);
    EXPECT_EQ(image[20], 0xFF) << "nothing past the bytes received is written";
    EXPECT_EQ(extent.filledSize, 20u);
}

TEST_F(ImageDelivery, AnImageLargerThanTheDestinationIsCutAndSaysSo) {
    Deliver(64, 8, 8, 0, 8);  // 64 bytes into a buffer of 32
    std::vector<uint8_t> image(32, 0xFF);
    GevImageInfo info{};
    GevImageExtent extent{};
    EXPECT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, image.data(), image.size()),
              kGevImageIncomplete);
    EXPECT_EQ(info.sizeY, 4u) << "only the rows the buffer holds";
    EXPECT_TRUE(extent.largerThanBuffer);
    EXPECT_EQ(extent.dataSize, 64u);
    EXPECT_EQ(extent.filledSize, 32u);
    EXPECT_EQ(image[31], 31);
}

TEST_F(ImageDelivery, PackedAndSubBytePaddedLinesLoseOnlyTheirPadding) {
    struct Case {
        uint32_t pixelFormat, width;
        uint16_t paddingX;
        uint32_t row;  // bytes of pixels per line
    };
    // Mono12Packed: 10 pixels in 15 bytes; Mono1p: 16 pixels in 2 bytes.
    for (const Case& c : {Case{0x010C0006, 10, 1, 15}, Case{0x01010037, 16, 2, 2}}) {
        const uint32_t stride = c.row + c.paddingX;
        GevBufferDescriptor* block = Deliver(4 * stride, c.width, 4, c.paddingX, 4);
        block->pixelFormat = c.pixelFormat;
        std::vector<uint8_t> image(4 * stride, 0xEE);
        GevImageInfo info{};
        GevImageExtent extent{};
        ASSERT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, image.data(), image.size()), kGevOk);
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < c.row; ++x)
                ASSERT_EQ(image[y * c.row + x], (y * stride + x) % 251)
                    << std::hex << c.pixelFormat << " at " << x << ", " << y;
        EXPECT_EQ(info.paddingX, 0);
        EXPECT_EQ(extent.filledSize, 4u * c.row);
        FreeRing(slot->stream);
    }
}

TEST_F(ImageDelivery, ChunkDataAfterAShortImageIsCopiedAsReceived) {
    // An image with chunks whose trailer cut it to 2 of 4 rows: the chunk data
    // follows the rows sent and must reach the buffer as in a zero-copy slot.
    GevBufferDescriptor* block = Deliver(64, 10, 4, 0, 2);
    block->payloadType = Gvsp::kImageWithChunk;
    block->filled = 36;
    block->chunkDataLength = 36;
    std::vector<uint8_t> image(64, 0xEE);
    GevImageInfo info{};
    GevImageExtent extent{};
    ASSERT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, image.data(), image.size()), kGevOk);
    for (uint32_t i = 0; i < 36; ++i) ASSERT_EQ(image[i], i % 251) << "byte " << i;
    EXPECT_EQ(info.chunkDataLength, 36u);
    EXPECT_EQ(info.sizeY, 2u);
}

TEST_F(ImageDelivery, IncompleteBlocksAreHandedOutAndSaySo) {
    GevBufferDescriptor* block = Deliver(40, 10, 4, 0, 4);
    block->status = kBlockIncomplete;
    block->missingPackets = 1;
    std::vector<uint8_t> image(40);
    GevImageInfo info{};
    EXPECT_EQ(GEVGetImageBuffer(kHandle, &info, image.data()), kGevImageIncomplete);
    EXPECT_EQ(info.missingPackets, 1u);
    EXPECT_EQ(GEVGetImageBuffer(kHandle, &info, image.data()), kGevTimeout) << "nothing left";
}

TEST_F(ImageDelivery, ZeroCopySlotsComeBackOnlyOnce) {
    Deliver(40, 10, 4, 0, 4);
    uint16_t number = 99;
    GevImageInfo info{};
    ASSERT_EQ(GEVGetRingBufferImage(kHandle, &info, &number), kGevOk);
    EXPECT_EQ(slot->stream.queued.Count(), 1u) << "the slot stays with the consumer";
    EXPECT_EQ(GEVQueueRingBuffer(kHandle, number), kGevOk);
    EXPECT_EQ(GEVQueueRingBuffer(kHandle, number), kGevNotSupported);
    EXPECT_EQ(GEVQueueRingBuffer(kHandle, 77), kGevNotSupported);
    EXPECT_EQ(slot->stream.queued.Count(), 2u);
}

TEST_F(ImageDelivery, WithoutARingNothingIsHandedOut) {
    std::vector<uint8_t> image(16);
    uint16_t number = 0;
    EXPECT_EQ(GEVGetImageBuffer(kHandle, nullptr, image.data()), kGevNoRing);
    EXPECT_EQ(GEVGetRingBufferImage(kHandle, nullptr, &number), kGevNoRing);
    EXPECT_EQ(GEVQueueRingBuffer(kHandle, 0), kGevNoRing);
}

TEST(FrameRateMeter, RunningAverageUntilAFullWindowThenTheWindow) {
    FrameRateMeter meter;
    meter.Reset(1000);  // ticks per second
    bool stable = true;
    EXPECT_EQ(meter.Read(&stable), 0.0);
    meter.Update(0);  // starts the clock
    for (int64_t t = 100; t <= 500; t += 100) meter.Update(t);
    EXPECT_DOUBLE_EQ(meter.Read(&stable), 10.0);  // 5 frames in 0.5 s
    EXPECT_FALSE(stable);
    for (int64_t t = 600; t <= 1000; t += 100) meter.Update(t);
    EXPECT_DOUBLE_EQ(meter.Read(&stable), 10.0);
    EXPECT_TRUE(stable);
    meter.Update(900);  // a clock that went backwards counts no time
    EXPECT_TRUE(stable);
}
