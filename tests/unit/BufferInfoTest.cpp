// The buffer record: its three ways of coming to be, the image description
// copied at delivery, the queue flags, and the buffer handle as a port.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "BufferInfo.h"
#include "Exceptions.h"

using namespace GenTL;

TEST(BufferRecord, AFreshBufferDescribesADefaultImage) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), &memory);
    EXPECT_EQ(buffer.width, 1024u);
    EXPECT_EQ(buffer.height, 768u);
    EXPECT_EQ(buffer.payloadType, uint64_t{PAYLOAD_TYPE_IMAGE});
    EXPECT_EQ(buffer.Memory(), memory.data());
    EXPECT_FALSE(buffer.OwnsMemory()) << "the consumer's memory is never freed";
    EXPECT_EQ(buffer.PrivateData(), &memory);
}

TEST(BufferRecord, AllocatedAndCompositeBuffersOwnTheirMemory) {
    auto allocated = CBufferInfo::Allocate(nullptr, 4096, nullptr);
    EXPECT_TRUE(allocated->OwnsMemory());
    allocated->Memory()[4095] = 1;  // all of it is there

    std::vector<uint8_t> a(100), b(28);
    CBufferInfo composite(nullptr, {a.data(), b.data()}, {100, 28}, nullptr);
    EXPECT_TRUE(composite.composite);
    EXPECT_EQ(composite.Size(), 128u);
    EXPECT_EQ(composite.segmentCount, 2u);
    EXPECT_TRUE(composite.OwnsMemory());

    CBufferInfo none(nullptr, nullptr, 16, nullptr);
    EXPECT_THROW(none.Memory(), std::runtime_error);
}

TEST(BufferRecord, DeliveryCopiesTheImageDescription) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    Vantor::GevImageInfo info{};
    info.blockId = 77;
    info.timestamp = 3000000123;  // ticks of a 1 GHz clock
    info.sizeX = 640;
    info.sizeY = 480;
    info.pixelFormat = 0x01080001;
    info.paddingX = 2;
    info.missingPackets = 3;
    info.payloadType = 0x4001;
    info.chunkDataLength = 900;
    info.chunkLayoutId = 5;
    buffer.Deliver(info, Vantor::GevImageExtent{1000, 64, true, {}}, true, 1000000000);
    EXPECT_EQ(buffer.frameId, 77u);
    EXPECT_EQ(buffer.width, 640u);
    EXPECT_EQ(buffer.deliveredImageHeight, 480u);
    EXPECT_TRUE(buffer.incomplete);
    EXPECT_EQ(buffer.payloadType, uint64_t{PAYLOAD_TYPE_CHUNK_DATA});
    EXPECT_TRUE(buffer.containsChunkData);
    EXPECT_EQ(buffer.deliveredChunkPayloadSize, 900u);
    EXPECT_EQ(buffer.chunkLayoutId, 5u);
    EXPECT_EQ(buffer.pixelFormatNamespace, uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
    EXPECT_EQ(buffer.sizeFilled, 64u);
    EXPECT_EQ(buffer.dataSize, 1000u);
    EXPECT_TRUE(buffer.dataLargerThanBuffer);
    EXPECT_EQ(buffer.timestamp, 3000000123u) << "the camera's time stamp, not the host's";
    ASSERT_TRUE(buffer.timestampNsKnown);
    EXPECT_EQ(buffer.timestampNs, 3000000123u);
    uint64_t stamp = 0;
    size_t size = 8;
    buffer.ReadBlock(CBufferInfo::kRegTimestamp, &stamp, &size);
    EXPECT_EQ(stamp, 3000000123u);

    // 125 MHz: 8 ns a tick, past the 64-bit product of ticks and 10^9.
    info.timestamp = 0x0123456789ABCDEFull;
    buffer.Deliver(info, Vantor::GevImageExtent{64, 64, false, {}}, false, 125000000);
    EXPECT_EQ(buffer.timestampNs, 0x0123456789ABCDEFull * 8);
    buffer.Deliver(info, Vantor::GevImageExtent{64, 64, false, {}}, false, 0);
    EXPECT_FALSE(buffer.timestampNsKnown) << "no frequency, no nanoseconds";
}

TEST(BufferRecord, PayloadTypesAreReportedAsTheLeaderSays) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    struct Case {
        uint16_t gev;
        uint64_t gentl;
        bool chunks;
    };
    const Case cases[] = {
        {0x0001, PAYLOAD_TYPE_IMAGE, false},    {0x4001, PAYLOAD_TYPE_CHUNK_DATA, true},
        {0x0002, PAYLOAD_TYPE_RAW_DATA, false}, {0x0004, PAYLOAD_TYPE_CHUNK_ONLY, true},
        {0x0006, PAYLOAD_TYPE_JPEG, false},     {0x4006, PAYLOAD_TYPE_JPEG, true},
        {0x0007, PAYLOAD_TYPE_JPEG2000, false}, {0x000A, PAYLOAD_TYPE_MULTI_PART, false},
        {0x000B, PAYLOAD_TYPE_GENDC, false},    {0x8001, PAYLOAD_TYPE_DEVICE_SPECIFIC, false},
        {0x0000, PAYLOAD_TYPE_UNKNOWN, false},
    };
    for (const Case& c : cases) {
        Vantor::GevImageInfo info{};
        info.payloadType = c.gev;
        info.sizeX = c.gev == 0x0001 || c.gev == 0x4001 ? 8 : 0xFFFFFFFF;
        info.sizeY = 4;
        info.chunkDataLength = 32;
        buffer.Deliver(info, Vantor::GevImageExtent{32, 32, false, {}}, false, 0);
        EXPECT_EQ(buffer.payloadType, c.gentl) << std::hex << c.gev;
        EXPECT_EQ(buffer.containsChunkData, c.chunks) << std::hex << c.gev;
        if (c.gentl != PAYLOAD_TYPE_IMAGE && c.gentl != PAYLOAD_TYPE_CHUNK_DATA) {
            EXPECT_EQ(buffer.width, 0u) << "no image, no width: " << std::hex << c.gev;
            EXPECT_EQ(buffer.height, 0u);
        }
    }
}

TEST(BufferRecord, AQueueMovesTheBufferThroughOnePlaceAtATime) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    EXPECT_TRUE(buffer.CanRevoke());
    buffer.OnQueued();
    EXPECT_TRUE(buffer.IsQueued());
    EXPECT_FALSE(buffer.CanRevoke());
    buffer.OnTaken();
    EXPECT_TRUE(buffer.IsAcquiring());
    EXPECT_TRUE(buffer.IsQueued());
    buffer.OnDelivered();
    EXPECT_EQ(buffer.Place(), BufferPlace::OutputQueue);
    EXPECT_TRUE(buffer.newData && buffer.imagePresent);
    EXPECT_FALSE(buffer.CanRevoke());
    buffer.OnEventData();
    EXPECT_TRUE(buffer.CanRevoke());
    buffer.OnQueued();
    EXPECT_FALSE(buffer.newData || buffer.imagePresent || buffer.IsAcquiring() ||
                 buffer.incomplete);
    buffer.OnDiscarded();
    EXPECT_TRUE(buffer.CanRevoke());
}

TEST(BufferRecord, BufferPortServesAddressSizeAndDescription) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    uint64_t address = 0;
    size_t size = 8;
    buffer.ReadBlock(CBufferInfo::kRegBase, &address, &size);
    EXPECT_EQ(address, reinterpret_cast<uintptr_t>(memory.data()));
    uint32_t bytes = 0;
    buffer.ReadRegister(CBufferInfo::kRegSize, &bytes);
    EXPECT_EQ(bytes, 64u);

    char url[128] = {};
    size = 0;
    buffer.GetURL(nullptr, &size);
    ASSERT_GT(size, 20u);
    size_t small = 5;
    EXPECT_THROW(buffer.GetURL(url, &small), invalid_parameter_exception);
    buffer.GetURL(url, &size);
    EXPECT_EQ(std::string(url).rfind("Local:KRGEVTLBuf.xml;100;", 0), 0u) << url;
    EXPECT_NE(std::string(url).back(), ';');

    char text[32] = {};
    size = sizeof text;
    INFO_DATATYPE type = 0;
    buffer.GetPortInfo(PORT_INFO_MODULE, &type, text, &size);
    EXPECT_STREQ(text, "TLBuffer");
    int32_t subminor = 0;
    size = sizeof subminor;
    buffer.GetURLInfo(0, URL_INFO_FILE_VER_SUBMINOR, &type, &subminor, &size);
    EXPECT_EQ(subminor, 3);
    CEventObj* event = nullptr;
    EXPECT_THROW(buffer.RegisterEvent(EVENT_NEW_BUFFER, &event), implementation_exception);

    char xml[16] = {};
    size = 8;
    buffer.ReadBlock(CBufferInfo::kRegXmlAddress, xml, &size);
    EXPECT_EQ(std::string(xml, 5), "<?xml");
}
