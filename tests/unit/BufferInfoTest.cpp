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
    info.sizeX = 640;
    info.sizeY = 480;
    info.pixelFormat = 0x01080001;
    info.paddingX = 2;
    info.missingPackets = 3;
    info.payloadType = 0x4001;
    info.chunkDataLength = 900;
    info.chunkLayoutId = 5;
    buffer.Deliver(info, 123456);
    EXPECT_EQ(buffer.frameId, 77u);
    EXPECT_EQ(buffer.width, 640u);
    EXPECT_EQ(buffer.deliveredImageHeight, 480u);
    EXPECT_TRUE(buffer.incomplete);
    EXPECT_EQ(buffer.payloadType, uint64_t{PAYLOAD_TYPE_CHUNK_DATA});
    EXPECT_TRUE(buffer.containsChunkData);
    EXPECT_EQ(buffer.deliveredChunkPayloadSize, 900u);
    EXPECT_EQ(buffer.chunkLayoutId, 5u);
    uint64_t stamp = 0;
    size_t size = 8;
    buffer.ReadBlock(CBufferInfo::kRegTimestamp, &stamp, &size);
    EXPECT_EQ(stamp, 123456u);

    info.payloadType = 0x000B;
    buffer.Deliver(info, 1);
    EXPECT_EQ(buffer.payloadType, uint64_t{PAYLOAD_TYPE_GENDC});
    info.payloadType = 0x0002;
    info.missingPackets = 0;
    buffer.Deliver(info, 1);
    EXPECT_EQ(buffer.payloadType, uint64_t{PAYLOAD_TYPE_IMAGE});
    EXPECT_FALSE(buffer.containsChunkData);
    EXPECT_FALSE(buffer.incomplete);
}

TEST(BufferRecord, QueueFlagsFollowTheBuffersWay) {
    std::vector<uint8_t> memory(64);
    CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    EXPECT_TRUE(buffer.CanRevoke());
    buffer.OnQueued();
    EXPECT_TRUE(buffer.queued);
    EXPECT_FALSE(buffer.CanRevoke());
    buffer.OnTaken();
    EXPECT_TRUE(buffer.acquiring);
    buffer.OnDelivered();
    EXPECT_FALSE(buffer.queued);
    EXPECT_TRUE(buffer.awaitingDelivery && buffer.newData && buffer.imagePresent);
    EXPECT_FALSE(buffer.CanRevoke());
    buffer.OnEventData();
    EXPECT_TRUE(buffer.CanRevoke());
    buffer.OnQueued();
    EXPECT_FALSE(buffer.newData || buffer.imagePresent || buffer.acquiring || buffer.incomplete);
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
