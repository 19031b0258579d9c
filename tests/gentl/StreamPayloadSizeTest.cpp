// The data stream's payload size is the camera's PayloadSize, read through the
// remote device port when the stream opens and again at each start; announced
// buffers of other sizes do not change it, and the stream never claims to
// define a payload size of its own.
#include <cstring>

#if defined(GEVTLKRV_HAVE_ZLIB)
#include <zlib.h>
#endif

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint64_t kRegStreamPayloadSize = 0x38;
constexpr uint64_t kPixelFormatRegister = 0x00010010;  // the simulator's
constexpr uint32_t kMono16 = 0x01100007;

constexpr uint32_t kFirstUrl = 0x0200;
constexpr uint32_t kXmlAddress = 0x00100000;  // where the simulator keeps its description

class StreamPayloadSize : public StreamTest {
protected:
    size_t StreamPayload() { return StreamInfo<size_t>(STREAM_INFO_PAYLOAD_SIZE); }
    bool DefinesPayload() { return StreamInfo<bool8_t>(STREAM_INFO_DEFINES_PAYLOADSIZE) != 0; }

    // Starts the simulator, lets `prepare` change its memory before anyone
    // reads it, then opens it and its stream without a GenApi of the test's own.
    template <class Prepare>
    void OpenPrepared(Prepare prepare) {
        const GevSim::CameraConfig config = SimulatorConfig(64, 48);
        cameras.push_back(std::make_unique<GevSim::Camera>(config));
        std::string error;
        ASSERT_TRUE(cameras.back()->Start(&error)) << error;
        prepare(Simulator());
        ASSERT_GE(Discover(), 1u);
        const std::string id = IDOfSerial(config.serial);
        ASSERT_FALSE(id.empty());
        device = Open(id, DEVICE_ACCESS_CONTROL);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(cti.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS)
            << cti.LastErrorText();
    }
};

// Writes `bytes` into the simulator's memory from `address`, zero-padded to whole words.
void PutBytes(GevSim::Camera& camera, uint32_t address, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size(); at += 4) {
        uint32_t word = 0;
        for (size_t i = 0; i < 4; ++i)
            word = word << 8 | (at + i < bytes.size() ? static_cast<uint8_t>(bytes[at + i]) : 0);
        camera.SetRegister(address + static_cast<uint32_t>(at), word);
    }
}

std::string SimulatorXml(GevSim::Camera& camera, size_t size) {
    std::string xml(size, '\0');
    for (size_t at = 0; at < size; at += 4) {
        const uint32_t word = camera.Register(kXmlAddress + static_cast<uint32_t>(at));
        for (size_t i = 0; i < 4 && at + i < size; ++i)
            xml[at + i] = static_cast<char>(word >> (24 - 8 * i));
    }
    return xml;
}

size_t SimulatorXmlSize(GevSim::Camera& camera) {
    std::string url;
    for (uint32_t at = 0; at < 512; at += 4) {
        const uint32_t word = camera.Register(kFirstUrl + at);
        for (int i = 0; i < 4; ++i)
            if (const char c = static_cast<char>(word >> (24 - 8 * i))) url += c;
    }
    return std::stoul(url.substr(url.rfind(';') + 1), nullptr, 16);
}

}  // namespace

TEST_F(StreamPayloadSize, IsTheCamerasFromTheOpenOn) {
    OpenSimulator(SimulatorConfig(64, 48));
    ASSERT_EQ(PayloadSize(), 64u * 48u);
    EXPECT_EQ(StreamPayload(), PayloadSize());
    EXPECT_EQ(ReadStreamRegister(kRegStreamPayloadSize), PayloadSize());
    EXPECT_FALSE(DefinesPayload());
    // Buffers larger and smaller than an image leave it as the camera says.
    std::vector<BUFFER_HANDLE> buffers = Announce(1, 2 * PayloadSize(), false);
    for (BUFFER_HANDLE b : Announce(1, PayloadSize() / 2, true)) buffers.push_back(b);
    EXPECT_EQ(StreamPayload(), 64u * 48u);
    EXPECT_EQ(ReadStreamRegister(kRegStreamPayloadSize), 64u * 48u);
    EXPECT_FALSE(DefinesPayload());
    StopAndReleaseIdle(buffers);
}

TEST_F(StreamPayloadSize, FollowsTheCameraAtEachStart) {
    OpenSimulator(SimulatorConfig(64, 48));
    std::vector<BUFFER_HANDLE> buffers = Announce(2, 64 * 48, false);
    QueueAll(buffers);
    CameraApi().SetInteger("Width", 32);
    CameraApi().SetInteger("Height", 40);
    ASSERT_EQ(PayloadSize(), 32u * 40u);
    // Read at the start, not behind the consumer's back.
    EXPECT_EQ(StreamPayload(), 64u * 48u);
    StartStream();
    EXPECT_EQ(StreamPayload(), 32u * 40u);
    EXPECT_EQ(ReadStreamRegister(kRegStreamPayloadSize), 32u * 40u);
    EXPECT_FALSE(DefinesPayload());
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);

    CameraApi().SetInteger("Width", 128);
    CameraApi().SetInteger("Height", 16);
    StartStream();
    EXPECT_EQ(StreamPayload(), 128u * 16u);
    EXPECT_EQ(StreamPayload(), PayloadSize());
    StopAndRelease(buffers);
}

TEST_F(StreamPayloadSize, FollowsThePixelFormat) {
    OpenSimulator(SimulatorConfig(64, 48));
    std::vector<BUFFER_HANDLE> buffers = Announce(1, 64 * 48 * 2, false);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    const uint8_t mono16[4] = {kMono16 >> 24, (kMono16 >> 16) & 0xFF, (kMono16 >> 8) & 0xFF,
                               kMono16 & 0xFF};
    size_t size = sizeof mono16;
    ASSERT_EQ(cti.GCWritePort(remote, kPixelFormatRegister, mono16, &size), GC_ERR_SUCCESS);
    ASSERT_EQ(CameraApi().GetEnumeration("PixelFormat"), "Mono16");
    StartStream();
    EXPECT_EQ(StreamPayload(), 64u * 48u * 2u);
    EXPECT_EQ(StreamPayload(), PayloadSize());
    StopAndRelease(buffers);
}

// Without a description it can reach, the stream stands in with the largest
// announced buffer (the old default before any), and still leaves the payload
// size to the camera's PayloadSize as the consumer's GenApi reads it.
TEST_F(StreamPayloadSize, WithoutADescriptionIsTheLargestAnnouncedBuffer) {
    OpenPrepared([](GevSim::Camera& camera) {
        PutBytes(camera, kFirstUrl, std::string("File:///nowhere/camera.xml") + '\0');
    });
    EXPECT_EQ(StreamPayload(), 76800u);
    EXPECT_FALSE(DefinesPayload());
    std::vector<BUFFER_HANDLE> buffers = Announce(1, 1000, false);
    EXPECT_EQ(StreamPayload(), 1000u);
    for (BUFFER_HANDLE b : Announce(1, 5000, true)) buffers.push_back(b);
    for (BUFFER_HANDLE b : Announce(1, 3000, false)) buffers.push_back(b);
    EXPECT_EQ(StreamPayload(), 5000u);
    EXPECT_EQ(ReadStreamRegister(kRegStreamPayloadSize), 5000u);
    EXPECT_FALSE(DefinesPayload());
    StopAndReleaseIdle(buffers);
}

#if defined(GEVTLKRV_HAVE_ZLIB)
// A zipped description, as most cameras keep theirs: the simulator's own,
// deflated by zlib into a zip entry in place of the plain file.
TEST_F(StreamPayloadSize, IsReadFromAZippedDescription) {
    OpenPrepared([](GevSim::Camera& camera) {
        const std::string xml = SimulatorXml(camera, SimulatorXmlSize(camera));
        ASSERT_NE(xml.find("PayloadSize"), std::string::npos);
        std::string packed(compressBound(static_cast<uLong>(xml.size())), '\0');
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(xml.data()));
        z.avail_in = static_cast<uInt>(xml.size());
        z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
        z.avail_out = static_cast<uInt>(packed.size());
        ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        packed.resize(z.total_out);
        deflateEnd(&z);
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(xml.data()), static_cast<uInt>(xml.size())));
        auto le = [](uint32_t value, int bytes) {
            std::string out;
            for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
            return out;
        };
        const std::string name = "gevsim.xml";
        const uint32_t packedSize = static_cast<uint32_t>(packed.size());
        const uint32_t size = static_cast<uint32_t>(xml.size());
        const std::string common = le(20, 2) + le(0, 2) + le(8, 2) + le(0, 4) + le(crc, 4) +
                                   le(packedSize, 4) + le(size, 4) +
                                   le(static_cast<uint32_t>(name.size()), 2);
        const std::string local = le(0x04034b50, 4) + common + le(0, 2) + name + packed;
        const std::string central = le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) +
                                    le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + name;
        const std::string end = le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) +
                                le(static_cast<uint32_t>(central.size()), 4) +
                                le(static_cast<uint32_t>(local.size()), 4) + le(0, 2);
        const std::string zip = local + central + end;
        ASSERT_LT(zip.size(), xml.size());
        PutBytes(camera, kXmlAddress, zip);
        char url[128];
        std::snprintf(url, sizeof url, "Local:gevsim.zip;%x;%zx", kXmlAddress, zip.size());
        PutBytes(camera, kFirstUrl, std::string(url) + '\0');
    });
    EXPECT_EQ(StreamPayload(), 64u * 48u);
    std::vector<BUFFER_HANDLE> buffers = Announce(1, 64 * 48, false);
    Simulator().SetRegister(0x00010000, 32);  // Width, behind the description's back
    StartStream();
    EXPECT_EQ(StreamPayload(), 32u * 48u);
    EXPECT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    StopAndReleaseIdle(buffers);
}
#endif
