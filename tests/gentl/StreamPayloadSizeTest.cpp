// The data stream's payload size is the camera's PayloadSize, read through the
// remote device port when the stream opens and again at each start; announced
// buffers of other sizes do not change it, and the stream never claims to
// define a payload size of its own.
#include <cstring>

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint64_t kRegStreamPayloadSize = 0x38;
constexpr uint64_t kPixelFormatRegister = 0x00010010;  // the simulator's
constexpr uint32_t kMono16 = 0x01100007;

class StreamPayloadSize : public StreamTest {
protected:
    size_t StreamPayload() { return StreamInfo<size_t>(STREAM_INFO_PAYLOAD_SIZE); }
    bool DefinesPayload() { return StreamInfo<bool8_t>(STREAM_INFO_DEFINES_PAYLOADSIZE) != 0; }
};

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
