// Multi-part blocks in the library and the buffer record: the leader's part
// descriptors read field by field, malformed leaders (cut descriptors, more
// parts than kept, lengths past the buffer), the parts of an assembled block
// with the trailer's heights, their hand-out cut to a small destination, and
// the buffer record's parts clipped to its memory.
#include "AssemblyFixture.h"
#include "BufferInfo.h"
#include "DeviceTable.h"

using namespace Vantor;
using namespace AssemblyTest;

namespace {

struct Descriptor {
    uint16_t dataType = 1;
    uint64_t length = 0;
    uint32_t pixelFormat = 0x01080001;
    uint8_t sourceId = 0, zones = 0;
    uint32_t zoneDirections = 0;
    uint16_t purpose = 0, region = 0;
    uint32_t sizeX = 0, sizeY = 0, offsetX = 0, offsetY = 0;
    uint16_t paddingX = 0, paddingY = 0;
};

// The 48 bytes of one part descriptor, laid out as the GigE Vision 2.1 leader has it.
Bytes DescriptorBytes(const Descriptor& d) {
    Bytes b;
    Put(b, d.dataType, 2);
    Put(b, d.length, 6);
    Put(b, d.pixelFormat, 4);
    Put(b, 0, 2);
    Put(b, d.sourceId, 1);
    Put(b, d.zones, 1);
    Put(b, d.zoneDirections, 4);
    Put(b, d.purpose, 2);
    Put(b, d.region, 2);
    Put(b, d.sizeX, 4);
    Put(b, d.sizeY, 4);
    Put(b, d.offsetX, 4);
    Put(b, d.offsetY, 4);
    Put(b, d.paddingX, 2);
    Put(b, d.paddingY, 2);
    Put(b, 0, 4);
    return b;
}

Bytes MultiPartLeader(const std::vector<Descriptor>& parts) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, Gvsp::kMultiPart, 2);
    Put(body, 1, 8);
    for (const Descriptor& d : parts) {
        const Bytes bytes = DescriptorBytes(d);
        body.insert(body.end(), bytes.begin(), bytes.end());
    }
    return body;
}

Bytes MultiPartTrailer(const std::vector<Descriptor>& parts, const std::vector<uint32_t>& rows) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, Gvsp::kMultiPart, 2);
    for (size_t i = 0; i < parts.size(); ++i) {
        Put(body, parts[i].dataType, 2);
        Put(body, parts[i].length, 6);
        Put(body, rows[i], 4);
        Put(body, 0, 4);
    }
    return body;
}

std::vector<Gvsp::PartDescriptor> Parse(const Bytes& datagram, uint64_t* total) {
    Gvsp::Header header{};
    EXPECT_TRUE(Gvsp::ParseHeader(datagram.data(), datagram.size(), &header));
    std::vector<Gvsp::PartDescriptor> parts;
    Gvsp::ParseParts(datagram.data(), datagram.size(), header, &parts, total);
    return parts;
}

}  // namespace

TEST(MultiPartLeader, EveryDescriptorFieldIsReadAtItsPlace) {
    Descriptor range;
    range.dataType = 5;
    range.length = 0x0000A1B2C3D4;
    range.pixelFormat = 0x011000B8;
    range.sourceId = 0x21;
    range.zones = 0xE3;  // the top bits are not part of the zone count
    range.zoneDirections = 0x80000001;
    range.purpose = 0x1234;
    range.region = 0x5678;
    range.sizeX = 640;
    range.sizeY = 480;
    range.offsetX = 16;
    range.offsetY = 8;
    range.paddingX = 2;
    range.paddingY = 6;
    Descriptor jpeg;
    jpeg.dataType = 0x000B;  // no geometry: the words from 24 on are its own
    jpeg.length = 1000;
    jpeg.sizeX = 99;
    for (bool extended : {false, true}) {
        uint64_t total = 0;
        const auto parts = Parse(Packet(1, 3, 0, MultiPartLeader({range, jpeg}), extended), &total);
        ASSERT_EQ(parts.size(), 2u);
        const Gvsp::PartDescriptor& p = parts[0];
        EXPECT_EQ(p.dataType, 5);
        EXPECT_EQ(p.length, 0xA1B2C3D4u);
        EXPECT_EQ(p.pixelFormat, 0x011000B8u);
        EXPECT_EQ(p.sourceId, 0x21);
        EXPECT_EQ(p.additionalZones, 0x03);
        EXPECT_EQ(p.zoneDirections, 0x80000001u);
        EXPECT_EQ(p.dataPurposeId, 0x1234);
        EXPECT_EQ(p.regionId, 0x5678);
        EXPECT_EQ(p.sizeX, 640u);
        EXPECT_EQ(p.sizeY, 480u);
        EXPECT_EQ(p.offsetX, 16u);
        EXPECT_EQ(p.offsetY, 8u);
        EXPECT_EQ(p.paddingX, 2);
        EXPECT_EQ(p.paddingY, 6);
        EXPECT_EQ(p.start, 0u);
        EXPECT_EQ(parts[1].dataType, 0x000B);
        EXPECT_EQ(parts[1].start, 0xA1B2C3D4u) << "the second part follows the first";
        EXPECT_EQ(parts[1].sizeX, 0u);
        EXPECT_EQ(total, 0xA1B2C3D4u + 1000);
    }
}

TEST(MultiPartLeader, OnlyWholeDescriptorsAreRead) {
    Descriptor part;
    part.length = 100;
    Bytes leader = MultiPartLeader({part, part, part});
    leader.resize(leader.size() - 1);  // the third descriptor is one byte short
    uint64_t total = 0;
    EXPECT_EQ(Parse(Packet(1, 3, 0, leader), &total).size(), 2u);
    EXPECT_EQ(total, 200u);
    leader.resize(10);  // not even the time stamp
    EXPECT_TRUE(Parse(Packet(1, 3, 0, leader), &total).empty());
    EXPECT_EQ(total, 0u);
}

TEST(MultiPartLeader, NoMorePartsThanKeptAreRead) {
    Descriptor part;
    part.length = 0xFFFFFFFFFFFF;  // the longest a descriptor can give
    const std::vector<Descriptor> many(Gvsp::kMaxParts + 5, part);
    uint64_t total = 0;
    const auto parts = Parse(Packet(1, 3, 0, MultiPartLeader(many)), &total);
    ASSERT_EQ(parts.size(), Gvsp::kMaxParts);
    EXPECT_EQ(parts.back().start, (Gvsp::kMaxParts - 1) * 0xFFFFFFFFFFFFull);
    EXPECT_EQ(total, Gvsp::kMaxParts * 0xFFFFFFFFFFFFull);
}

// ---- Assembly ------------------------------------------------------------------

namespace {

class MultiPartAssembly : public Assembly {
protected:
    // 256 bytes of buffer, data packets of 64 bytes (56 of data after the part header).
    void SetUp() override { Configure(4, 64, 4); }

    void SendParts(uint64_t block, const std::vector<Descriptor>& parts,
                   const std::vector<uint32_t>& rows) {
        Feed(Packet(1, block, 0, MultiPartLeader(parts)));
        uint32_t packet = 1;
        for (size_t id = 0; id < parts.size(); ++id) {
            for (uint64_t offset = 0; offset < parts[id].length; offset += 56, ++packet) {
                Bytes body;
                Put(body, id, 1);
                Put(body, 0, 1);
                Put(body, offset, 6);
                const uint64_t size = std::min<uint64_t>(56, parts[id].length - offset);
                for (uint64_t i = 0; i < size; ++i)
                    body.push_back(static_cast<uint8_t>(0x10 * (id + 1) + offset + i));
                Feed(Packet(7, block, packet, body));
            }
        }
        Feed(Packet(2, block, packet, MultiPartTrailer(parts, rows)));
    }
};

}  // namespace

TEST_F(MultiPartAssembly, TheBlockKeepsItsPartsWithTheTrailersHeights) {
    Descriptor image;
    image.length = 128;
    image.sizeX = 16;
    image.sizeY = 8;
    Descriptor map = image;
    map.dataType = Gvsp::kPartDataConfidenceMap;
    map.length = 64;
    map.sizeY = 4;
    SendParts(1, {image, map}, {6, 4});
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->status, kBlockComplete);
    ASSERT_EQ(block->parts.size(), 2u);
    EXPECT_EQ(block->parts[0].trailerSizeY, 6u);
    EXPECT_EQ(block->parts[1].start, 128u);
    EXPECT_EQ(block->parts[1].trailerSizeY, 4u);
    EXPECT_EQ(block->data[128], 0x20) << "the second part's first byte";
}

TEST_F(MultiPartAssembly, PartsPastTheBufferMakeTheBlockLargerThanIt) {
    Descriptor image;
    image.length = 200;
    image.sizeX = 20;
    image.sizeY = 10;
    Descriptor map = image;
    map.length = 120;  // ends at 320, past the 256 bytes of the buffer
    SendParts(1, {image, map}, {10, 10});
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->overflow);
    ASSERT_EQ(block->parts.size(), 2u);
    EXPECT_EQ(block->data[199], static_cast<uint8_t>(0x10 + 199));
    EXPECT_EQ(block->data[255], static_cast<uint8_t>(0x20 + 55)) << "what fits is kept";
}

TEST_F(MultiPartAssembly, DataOfAPartTheLeaderDidNotGiveIsNotStored) {
    Descriptor image;
    image.length = 56;
    image.sizeX = 8;
    image.sizeY = 7;
    Feed(Packet(1, 1, 0, MultiPartLeader({image})));
    Bytes body;
    Put(body, 5, 1);  // part 5 of a one-part block
    Put(body, 0, 1);
    Put(body, 0, 6);
    body.resize(body.size() + 56, 0xEE);
    Feed(Packet(7, 1, 1, body));
    Feed(Packet(2, 1, 2, MultiPartTrailer({image}, {7})));
    receiver.FlushOnSilence();
    GevBufferDescriptor* block = Delivered();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->filled, 0u);
    EXPECT_NE(block->status, kBlockComplete);
}

// ---- Hand-out -------------------------------------------------------------------

namespace {

constexpr uint8_t kHandle = 11;

class MultiPartHandOut : public ::testing::Test {
protected:
    void SetUp() override {
        slot = SlotOf(kHandle);
        slot->stream.Reset();
        slot->record.streamTimeout = 50;
        slot->inUse = true;
        StreamState& stream = slot->stream;
        stream.settings.payloadSize = 300;
        stream.settings.packetDataSize = 1024;
        stream.settings.packetsPerBlock = 1;
        stream.bufferCount = 2;
        ASSERT_TRUE(BuildRing(stream));
        GevBufferDescriptor* block = stream.queued.TakeHead();
        for (uint32_t i = 0; i < 300; ++i) block->data[i] = static_cast<uint8_t>(i);
        block->payloadType = Gvsp::kMultiPart;
        block->sizeX = 0xFFFFFFFF;
        block->filled = block->dataEnd = block->dataSize = 300;
        // A 20 x 10 Mono8 image with 2 bytes of padding a line, cut to 8 lines by the
        // trailer, then 60 bytes of a map.
        Gvsp::PartDescriptor image;
        image.dataType = Gvsp::kPartData2DImage;
        image.pixelFormat = 0x01080001;
        image.sizeX = 20;
        image.sizeY = 10;
        image.paddingX = 2;
        image.length = 240;
        image.trailerSizeY = 8;
        image.dataPurposeId = 7;
        Gvsp::PartDescriptor map;
        map.dataType = Gvsp::kPartDataConfidenceMap;
        map.pixelFormat = 0x010800C6;
        map.sizeX = 10;
        map.sizeY = 6;
        map.length = 60;
        map.start = 240;
        map.sourceId = 3;
        block->parts = {image, map};
        stream.delivered.Append(block);
        std::lock_guard<std::mutex> guard(stream.imageLock);
        stream.imageSignalled = true;
    }
    void TearDown() override {
        FreeRing(slot->stream);
        slot->stream.Reset();
        slot->inUse = false;
    }
    DeviceSlot* slot = nullptr;
};

}  // namespace

TEST_F(MultiPartHandOut, PartsAreHandedOutWithTheImageAndKeepTheirPadding) {
    std::vector<uint8_t> destination(300);
    GevImageInfo info{};
    GevImageExtent extent{};
    ASSERT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, destination.data(), destination.size()),
              kGevOk);
    EXPECT_EQ(info.sizeX, 0xFFFFFFFFu) << "the 56-byte record tells no geometry of its own";
    ASSERT_EQ(extent.parts.size(), 2u);
    const GevImagePart& image = extent.parts[0];
    EXPECT_EQ(image.offset, 0u);
    EXPECT_EQ(image.heldSize, 240u);
    EXPECT_EQ(image.heldSizeY, 8u) << "the trailer's height";
    EXPECT_EQ(image.paddingX, 2) << "parts are copied as they came";
    EXPECT_EQ(image.dataPurposeId, 7);
    const GevImagePart& map = extent.parts[1];
    EXPECT_EQ(map.offset, 240u);
    EXPECT_EQ(map.heldSize, 60u);
    EXPECT_EQ(map.heldSizeY, 6u);
    EXPECT_EQ(map.sourceId, 3);
    EXPECT_EQ(destination[240], 240u);
}

TEST_F(MultiPartHandOut, ADestinationTooSmallCutsThePartsToWhatItHolds) {
    std::vector<uint8_t> destination(100);
    GevImageInfo info{};
    GevImageExtent extent{};
    EXPECT_EQ(GEVGetImageBufferEx(kHandle, &info, &extent, destination.data(), destination.size()),
              kGevImageIncomplete);
    EXPECT_TRUE(extent.largerThanBuffer);
    ASSERT_EQ(extent.parts.size(), 2u);
    EXPECT_EQ(extent.parts[0].heldSize, 100u);
    EXPECT_EQ(extent.parts[0].heldSizeY, 4u) << "four whole lines of 22 bytes";
    EXPECT_EQ(extent.parts[1].heldSize, 0u);
    EXPECT_EQ(extent.parts[1].heldSizeY, 0u);
    EXPECT_LE(extent.parts[1].offset, 100u) << "no part begins past the destination";
}

TEST_F(MultiPartHandOut, ASlotHandedOutTellsItsParts) {
    GevImageInfo info{};
    GevImageExtent extent{};
    uint16_t slotNumber = 99;
    ASSERT_EQ(GEVGetRingBufferImageEx(kHandle, &info, &extent, &slotNumber), kGevOk);
    ASSERT_EQ(extent.parts.size(), 2u);
    EXPECT_EQ(extent.parts[1].offset, 240u);
    EXPECT_EQ(extent.parts[1].heldSize, 60u);
    EXPECT_EQ(GEVQueueRingBuffer(kHandle, slotNumber), kGevOk);
}

// ---- Buffer record ---------------------------------------------------------------

TEST(MultiPartBufferRecord, PartsAreClippedToTheBuffersMemory) {
    std::vector<uint8_t> memory(150);
    GenTL::CBufferInfo buffer(nullptr, memory.data(), memory.size(), nullptr);
    GevImageInfo info{};
    info.payloadType = Gvsp::kMultiPart;
    info.sizeX = 0xFFFFFFFF;
    GevImageExtent extent{};
    extent.dataSize = 300;
    extent.filledSize = 300;  // a zero-copy slot larger than the announced memory
    GevImagePart image;
    image.dataType = 1;
    image.pixelFormat = 0x01080001;
    image.sizeX = 20;
    image.sizeY = 10;
    image.length = image.heldSize = 200;
    image.heldSizeY = 10;
    image.regionId = 4;
    GevImagePart map;
    map.dataType = 0x8003;  // device-specific
    map.offset = 200;
    map.length = map.heldSize = 100;
    extent.parts = {image, map};
    buffer.Deliver(info, extent, false, 0);
    EXPECT_EQ(buffer.payloadType, uint64_t{GenTL::PAYLOAD_TYPE_MULTI_PART});
    ASSERT_EQ(buffer.parts.size(), 2u);
    EXPECT_EQ(buffer.parts[0].offset, 0u);
    EXPECT_EQ(buffer.parts[0].size, 150u);
    EXPECT_EQ(buffer.parts[0].deliveredHeight, 7u) << "the lines the 150 bytes hold";
    EXPECT_EQ(buffer.parts[0].regionId, 4u);
    EXPECT_EQ(buffer.parts[0].dataFormatNamespace,
              uint64_t{GenTL::PIXELFORMAT_NAMESPACE_PFNC_32BIT});
    EXPECT_EQ(buffer.parts[1].size, 0u);
    EXPECT_LE(buffer.parts[1].offset, 150u);
    EXPECT_EQ(buffer.parts[1].dataType, uint64_t{GenTL::PART_DATATYPE_CUSTOM_ID + 3});

    // The next delivery of a plain image leaves no parts behind.
    info.payloadType = Gvsp::kImage;
    buffer.Deliver(info, GevImageExtent{}, false, 0);
    EXPECT_TRUE(buffer.parts.empty());
}
