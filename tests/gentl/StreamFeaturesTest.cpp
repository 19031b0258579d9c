// The data stream's features against the simulator: loss with and without
// resend, buffers of two sizes, chunk data read through the camera's GenApi
// chunk features, and the stream and buffer descriptions through GenApi.
#include <set>
#include <string>

#include "GEVTLKRVInfo.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

// The text of the first <element>...</element> after `anchor` in `xml`, or "".
std::string ElementAfter(const std::string& xml, const std::string& anchor,
                         const std::string& element) {
    const size_t at = xml.find(anchor);
    if (at == std::string::npos) return "";
    const std::string open = "<" + element + ">";
    const size_t begin = xml.find(open, at);
    if (begin == std::string::npos) return "";
    const size_t end = xml.find("</" + element + ">", begin);
    if (end == std::string::npos) return "";
    return xml.substr(begin + open.size(), end - begin - open.size());
}

class StreamFeatures : public StreamTest {
protected:
    // The next error event text, or "" after `timeoutMs`.
    std::string NextError(EVENT_HANDLE event, uint64_t timeoutMs = 1000) {
        char data[2048] = {};
        size_t size = sizeof data;
        if (cti.EventGetData(event, data, &size, timeoutMs) != GC_ERR_SUCCESS) return "";
        return std::string(data + 4);
    }

    uint64_t StreamCounter(STREAM_INFO_CMD command) {
        uint64_t value = 0;
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetInfo(stream, command, &type, &value, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(type, INFO_DATATYPE_UINT64);
        return value;
    }

    // The value of a camera chunk feature, found as a GenApi consumer finds it:
    // the feature's register (address, length) inside the chunk its port names.
    uint64_t ChunkFeature(const std::string& name, BUFFER_HANDLE buffer,
                          const std::vector<SINGLE_CHUNK_DATA>& chunks) {
        ArvGcNode* node = CameraApi().Node(name);
        EXPECT_TRUE(node != nullptr && ARV_IS_GC_REGISTER(node)) << name;
        if (node == nullptr) return 0;
        GError* error = nullptr;
        const guint64 address = arv_gc_register_get_address(ARV_GC_REGISTER(node), &error);
        const guint64 length = arv_gc_register_get_length(ARV_GC_REGISTER(node), &error);
        EXPECT_EQ(error, nullptr);
        // The chunk ID of the feature's port, as the description declares it.
        const std::string& xml = CameraApi().Xml();
        const std::string port = ElementAfter(xml, "Name=\"" + name + "\"", "pPort");
        EXPECT_FALSE(port.empty()) << name;
        const std::string id = ElementAfter(xml, "<Port Name=\"" + port + "\"", "ChunkID");
        EXPECT_FALSE(id.empty()) << port;
        if (port.empty() || id.empty()) return 0;
        const uint64_t chunkId = std::stoull(id, nullptr, 16);
        auto* base = BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE);
        for (const SINGLE_CHUNK_DATA& chunk : chunks) {
            if (chunk.ChunkID != chunkId) continue;
            EXPECT_LE(address + length, chunk.ChunkLength);
            uint64_t value = 0;  // big-endian, as the feature says
            for (guint64 i = 0; i < length; ++i)
                value = value << 8 | base[chunk.ChunkOffset + address + i];
            return value;
        }
        ADD_FAILURE() << "no chunk " << chunkId << " for " << name;
        return 0;
    }
};

}  // namespace

TEST_F(StreamFeatures, ResendRecoversEveryLostPacket) {
    // A rate that leaves time for every answer even under ThreadSanitizer.
    GevSim::CameraConfig config = SimulatorConfig(320, 240, 30.0f);
    OpenSimulator(config);
    cameras.back()->faults().Stream().DropRatio(0.01, 7);
    auto streamApi = GenApiBridge::GenApiPort::FromPort(stream, Ports());
    streamApi.SetBoolean("EnablePacketResend", true);
    EXPECT_TRUE(streamApi.GetBoolean("EnablePacketResend"));
    std::vector<BUFFER_HANDLE> buffers = Announce(8, PayloadSize(), false);
    QueueAll(buffers);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 40), GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 40; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << "frame " << i << ": " << cti.LastErrorText();
        EXPECT_FALSE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE));
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    const GevSim::StreamStatistics stats = cameras.back()->StreamStats();
    EXPECT_GT(stats.packetsDropped, 0u) << "the loss must have happened";
    EXPECT_GT(stats.packetsResent, 0u);
    // Every packet the camera sent again was asked for, and none stayed lost.
    EXPECT_GE(StreamCounter(STREAM_INFO_GEVTLKRV_RESEND_REQUESTED), stats.packetsResent);
    EXPECT_EQ(StreamCounter(STREAM_INFO_GEVTLKRV_LOST_PACKETS), 0u);
    // The answers that came, at most what the camera sent again; the same
    // numbers through the stream's features.
    const uint64_t resent = StreamCounter(STREAM_INFO_GEVTLKRV_RESENT_PACKETS);
    EXPECT_GT(resent, 0u);
    EXPECT_LE(resent, stats.packetsResent);
    EXPECT_EQ(streamApi.GetInteger("StreamResentPacketCount"), static_cast<int64_t>(resent));
    EXPECT_EQ(streamApi.GetInteger("StreamResendRequestedPacketCount"),
              static_cast<int64_t>(StreamCounter(STREAM_INFO_GEVTLKRV_RESEND_REQUESTED)));
    EXPECT_EQ(streamApi.GetInteger("StreamMissingPacketCount"), 0);
    StopAndRelease(buffers);
}

TEST_F(StreamFeatures, WithoutResendLossIsFlaggedAndReported) {
    OpenSimulator(SimulatorConfig(320, 240, 100.0f));
    cameras.back()->faults().Stream().DropRatio(0.01, 11);
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    std::vector<BUFFER_HANDLE> buffers = Announce(8, PayloadSize(), true);
    QueueAll(buffers);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    int incomplete = 0;
    for (int i = 0; i < 40; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        if (BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE))
            ++incomplete;
        else
            EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    EXPECT_GT(incomplete, 0) << "about 4 in 10 frames lose a packet";
    EXPECT_GE(StreamCounter(STREAM_INFO_GEVTLKRV_LOST_PACKETS), static_cast<uint64_t>(incomplete));
    EXPECT_EQ(StreamCounter(STREAM_INFO_GEVTLKRV_RESEND_REQUESTED), 0u);
    EXPECT_EQ(NextError(errors).rfind("Error GEVGetImageBuffer. Error Code: 0xc010", 0), 0u);
    StopAndRelease(buffers);
}

// Copy mode fills a buffer of any size: a larger one holds the image whole, a
// smaller one holds the rows that fit and says the image was cut.
TEST_F(StreamFeatures, BuffersOfAnySizeAreFilledAndSmallOnesSayTheImageWasCut) {
    OpenSimulator(SimulatorConfig(64, 48));
    const size_t payload = PayloadSize();
    std::vector<BUFFER_HANDLE> big = Announce(1, payload * 2, false);
    std::vector<BUFFER_HANDLE> small = Announce(1, payload / 2 + 10, false);
    std::vector<BUFFER_HANDLE> right = Announce(1, payload, false);
    std::vector<BUFFER_HANDLE> all = big;
    all.insert(all.end(), small.begin(), small.end());
    all.insert(all.end(), right.begin(), right.end());
    QueueAll(all);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    std::set<BUFFER_HANDLE> seen;
    for (int i = 0; i < 12; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        seen.insert(delivery.buffer);
        const size_t height = BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_HEIGHT);
        const size_t size = BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_SIZE);
        EXPECT_LE(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_WIDTH) * height, size);
        EXPECT_LE(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_SIZE_FILLED), size);
        EXPECT_EQ(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_DATA_SIZE), payload);
        const bool cut = delivery.buffer == small[0];
        EXPECT_EQ(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE) != 0, cut);
        EXPECT_EQ(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_DATA_LARGER_THAN_BUFFER) != 0,
                  cut);
        EXPECT_EQ(height, cut ? 24u : 48u);
        EXPECT_EQ(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), height);
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer)) << "the rows it holds are right";
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    EXPECT_EQ(seen.size(), 3u) << "every buffer takes its turn";
    StopAndRelease(all);
}

TEST_F(StreamFeatures, BuffersLargerThanTheImageHoldPaddedImagesWhole) {
    GevSim::CameraConfig config = SimulatorConfig(320, 240, 50.0f);
    config.paddingX = 4;
    OpenSimulator(config);
    const size_t payload = PayloadSize();
    ASSERT_EQ(payload, (320u + 4u) * 240u);
    RegisterNewBuffer();
    for (bool zeroCopy : {false, true}) {
        WriteStreamRegister(0x224, zeroCopy ? 1 : 0);
        // Sized like the stream's initial payload size, larger than this camera's images.
        std::vector<BUFFER_HANDLE> buffers = Announce(4, payload + 10000, false);
        QueueAll(buffers);
        ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
                  GC_ERR_SUCCESS);
        CameraApi().Execute("AcquisitionStart");
        for (int i = 0; i < 8; ++i) {
            Delivery delivery = Next();
            ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
            EXPECT_FALSE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE))
                << (zeroCopy ? "zero-copy" : "copy") << " frame " << i;
            // A copy leaves the padding behind; written in place, the lines keep it.
            EXPECT_EQ(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_XPADDING),
                      zeroCopy ? 4u : 0u);
            EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
            cti.DSQueueBuffer(stream, delivery.buffer);
        }
        StopAndRelease(buffers);
    }
}

// Zero-copy slots are the buffers themselves: none is written past its end. With
// a buffer smaller than the images, every frame is cut to it and says so.
TEST_F(StreamFeatures, ZeroCopyFillsLargerBuffersAndCutsImagesToASmallerOne) {
    OpenSimulator(SimulatorConfig());
    WriteStreamRegister(0x224, 1);
    const size_t payload = PayloadSize();
    std::vector<BUFFER_HANDLE> buffers = Announce(1, payload / 2, false);
    for (BUFFER_HANDLE b : Announce(2, payload, false)) buffers.push_back(b);
    QueueAll(buffers);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 6; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        EXPECT_TRUE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE));
        EXPECT_TRUE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
        EXPECT_LE(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_SIZE_FILLED), payload / 2);
        EXPECT_EQ(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_HEIGHT), 48u / 2);
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer)) << "the rows that fit are right";
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    StopAndRelease(buffers);

    std::vector<BUFFER_HANDLE> mixed = Announce(1, payload * 2, false);
    for (BUFFER_HANDLE b : Announce(1, payload, true)) mixed.push_back(b);
    QueueAll(mixed);
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    CameraApi().Execute("AcquisitionStart");
    std::set<BUFFER_HANDLE> filled;
    for (int i = 0; i < 10; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        EXPECT_FALSE(BufferInfo<bool8_t>(delivery.buffer, BUFFER_INFO_IS_INCOMPLETE));
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
        filled.insert(delivery.buffer);
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    EXPECT_EQ(filled.size(), 2u) << "both buffers take images";
    StopAndRelease(mixed);
}

TEST_F(StreamFeatures, ChunkDataIsWalkedAndReadThroughTheCamerasChunkFeatures) {
    OpenSimulator(SimulatorConfig());
    CameraApi().SetBoolean("ChunkModeActive", true);
    const size_t payload = PayloadSize();
    const size_t imageBytes = 64 * 48;
    ASSERT_EQ(payload, imageBytes + 8 + 16 + 8);
    std::vector<BUFFER_HANDLE> buffers = Announce(4, payload, false);
    QueueAll(buffers);
    RegisterNewBuffer();
    ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              GC_ERR_SUCCESS);
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 5; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        BUFFER_HANDLE buffer = delivery.buffer;
        EXPECT_TRUE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_CONTAINS_CHUNKDATA));
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_PAYLOADTYPE), PAYLOAD_TYPE_CHUNK_DATA);
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE), payload);

        size_t count = 0;
        ASSERT_EQ(cti.DSGetBufferChunkData(stream, buffer, nullptr, &count), GC_ERR_SUCCESS)
            << cti.LastErrorText();
        ASSERT_EQ(count, 2u);
        std::vector<SINGLE_CHUNK_DATA> chunks(count);
        size_t tooFew = 1;
        EXPECT_EQ(cti.DSGetBufferChunkData(stream, buffer, chunks.data(), &tooFew),
                  GC_ERR_BUFFER_TOO_SMALL);
        ASSERT_EQ(cti.DSGetBufferChunkData(stream, buffer, chunks.data(), &count), GC_ERR_SUCCESS);
        // From the end of the payload: the block-info chunk, then the image.
        EXPECT_EQ(chunks[0].ChunkID, 2u);
        EXPECT_EQ(chunks[0].ChunkOffset, static_cast<ptrdiff_t>(imageBytes + 8));
        EXPECT_EQ(chunks[0].ChunkLength, 16u);
        EXPECT_EQ(chunks[1].ChunkID, 1u);
        EXPECT_EQ(chunks[1].ChunkOffset, 0);
        EXPECT_EQ(chunks[1].ChunkLength, imageBytes);

        const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
        EXPECT_EQ(ChunkFeature("ChunkBlockId", buffer, chunks), frame);
        EXPECT_NE(ChunkFeature("ChunkTimestamp", buffer, chunks), 0u);
        cti.DSQueueBuffer(stream, buffer);
    }
    StopAndRelease(buffers);
}

TEST_F(StreamFeatures, PlainImagesHaveNoChunkData) {
    OpenSimulator(SimulatorConfig());
    std::vector<BUFFER_HANDLE> buffers = Announce(2, PayloadSize(), false);
    size_t count = 0;
    EXPECT_EQ(cti.DSGetBufferChunkData(stream, buffers[0], nullptr, &count), GC_ERR_NO_DATA);
    EXPECT_EQ(cti.LastErrorText(), "GC_ERR_NO_DATA");
    StopAndReleaseIdle(buffers);
}

TEST_F(StreamFeatures, StreamDescriptionShowsAndSetsTheModulesValues) {
    OpenSimulator(SimulatorConfig());
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    auto api = GenApiBridge::GenApiPort::FromPort(stream, Ports());
    std::vector<BUFFER_HANDLE> buffers = Announce(3, PayloadSize(), false);
    EXPECT_EQ(api.GetInteger("StreamAnnouncedBufferCount"), 3);
    EXPECT_EQ(api.GetInteger("StreamPayloadSize"), static_cast<int64_t>(PayloadSize()));
    EXPECT_EQ(api.GetInteger("StreamAnnounceBufferMinimum"), 1);
    EXPECT_EQ(api.GetString("StreamID"), "DS0");
    EXPECT_EQ(api.GetEnumeration("StreamType"), "GEV");
    // The simulator's packet size, less the headers.
    EXPECT_GT(api.GetInteger("PacketSize"), 0);

    api.SetInteger("PacketTimeout", 57);
    EXPECT_EQ(api.GetInteger("PacketTimeout"), 57);
    api.SetInteger("ImageTimeout", 1234);
    EXPECT_EQ(api.GetInteger("ImageTimeout"), 1234);
    api.SetInteger("PacketResendCount", 3);
    EXPECT_EQ(api.GetInteger("PacketResendCount"), 3);
    api.SetInteger("RingBufferCount", 9);
    EXPECT_EQ(api.GetInteger("RingBufferCount"), 9);
    api.SetBoolean("EnablePacketResend", true);
    EXPECT_TRUE(api.GetBoolean("EnablePacketResend"));

    // The search moves the simulator's packet size and the feature follows.
    cameras.back()->faults().Clear();
    api.Execute("FindMaxPacketSize");
    EXPECT_EQ(CameraApi().GetInteger("GevSCPSPacketSize") - 36, api.GetInteger("PacketSize"));

    api.SetBoolean("EnableFilterDriver", true);
    EXPECT_FALSE(api.GetBoolean("EnableFilterDriver"));
    EXPECT_EQ(api.GetString("FilterDriverVersion"), "Can't open krvGEVFilter driver.");
    std::string text;
    for (int i = 0; i < 5 && text.find("krvGEVFilter") == std::string::npos; ++i)
        text = NextError(errors);
    EXPECT_EQ(text.rfind("Can't open krvGEVFilter driver. Check if driver is installed", 0), 0u)
        << text;

    // The buffer's own description: its time stamp register.
    auto bufferApi = GenApiBridge::GenApiPort::FromPort(buffers[0], Ports());
    EXPECT_EQ(bufferApi.GetInteger("TimestampReg"), 0);
    StopAndReleaseIdle(buffers);
}

// Packet resend switched on and off while frames stream in: the receive thread
// sees each setting whole (ThreadSanitizer checks the switch), and frames keep coming.
TEST_F(StreamFeatures, ResendSwitchesWhileGrabbing) {
    OpenSimulator(SimulatorConfig(64, 48, 200.0f));
    auto streamApi = GenApiBridge::GenApiPort::FromPort(stream, Ports());
    std::vector<BUFFER_HANDLE> buffers = Announce(4, PayloadSize(), true);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 12; ++i) {
        if (i % 3 == 0) streamApi.SetBoolean("EnablePacketResend", i % 2 == 0);
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
        EXPECT_TRUE(HoldsTestPattern(delivery.buffer));
        cti.DSQueueBuffer(stream, delivery.buffer);
    }
    EXPECT_FALSE(streamApi.GetBoolean("EnablePacketResend"));  // the last switch
    StopAndRelease(buffers);
}
