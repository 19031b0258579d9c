// VantorLib's stream side against the camera simulator: images flow, are
// checked pixel by pixel, lost packets come back by resend (or the image is
// flagged incomplete without it), zero-copy slots, the packet size search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "Bootstrap.h"
#include "DeviceTable.h"
#include "GevSimCamera.h"
#include "Netns.h"
#include "StreamPayload.h"
#include "TestSockets.h"
#include "VantorFixture.h"

using namespace Vantor;
using namespace TestPeer;

namespace {

constexpr uint32_t kWidth = 320, kHeight = 240;
constexpr uint32_t kPayload = kWidth * kHeight;  // Mono8

class Streaming : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)
            GTEST_SKIP() << "run the test through tests/netns/netns-run";
    }
    void TearDown() override { GEVClose(1); }

    // A camera on 127.0.0.2 (or in the first camera namespace), open with
    // control access and its stream channel open.
    GevSim::Camera& Start(GevSim::CameraConfig config, const char* host = "127.0.0.1",
                          const char* mask = "255.0.0.0") {
        config.width = kWidth;
        config.height = kHeight;
        if (config.address.empty() || config.address == "127.0.0.1") config.address = "127.0.0.2";
        camera = std::make_unique<GevSim::Camera>(config);
        std::string error;
        EXPECT_TRUE(camera->Start(&error)) << error;
        GevOpenParams params = OpenParams(config.address.c_str(), host, mask);
        EXPECT_EQ(GEVOpenDevice(1, &params, &LogCapture::Callback, 0, kAccessModeControl), kGevOk);
        EXPECT_EQ(GEVOpenStreamChannel(1, 0, 0, 0), kGevOk);
        return *camera;
    }
    GevStatus Begin(uint32_t frames = 0) {
        GevStatus status = GEVAcquisitionStartEx(1, frames, kPayload, 0, 0, 0);
        camera->StartStreaming();
        return status;
    }
    // True when every pixel follows the simulator's pattern for that block.
    static bool PatternHolds(const std::vector<uint8_t>& image, uint64_t blockId) {
        GevSim::StreamFormat format;
        format.width = kWidth;
        format.height = kHeight;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x)
                if (image[y * kWidth + x] !=
                    static_cast<uint8_t>(GevSim::StreamPayload::PixelValue(format, x, y, blockId)))
                    return false;
        return true;
    }

    std::unique_ptr<GevSim::Camera> camera;
};

// Swapped and duplicated packets in every block, and one lost trailer.
void StreamFaultsFor(GevSim::Camera& sim) {
    GevSim::StreamFaults& faults = sim.faults().Stream();
    faults.SwapPackets(GevSim::StreamFaults::kEveryBlock, 5, 6);
    faults.DuplicatePackets(GevSim::StreamFaults::kEveryBlock, {7, 8});
    faults.DropPackets(3, {GevSim::StreamFaults::kTrailer}, GevSim::StreamFaults::Drop::Always);
}

GevSim::CameraConfig Fast() {
    GevSim::CameraConfig config;
    config.frameRate = 50.0f;
    return config;
}

}  // namespace

TEST_F(Streaming, ImagesArriveWholeAndFollowThePattern) {
    Start(Fast());
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    uint64_t lastBlock = 0;
    for (int i = 0; i < 10; ++i) {
        GevImageInfo info{};
        ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk) << "image " << i;
        EXPECT_EQ(info.sizeX, kWidth);
        EXPECT_EQ(info.sizeY, kHeight);
        EXPECT_EQ(info.pixelFormat, 0x01080001u);
        EXPECT_EQ(info.missingPackets, 0u);
        EXPECT_GT(info.blockId, lastBlock);
        lastBlock = info.blockId;
        EXPECT_TRUE(PatternHolds(image, info.blockId)) << "block " << info.blockId;
    }
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Frames: "));
    EXPECT_EQ(GEVGetImageBuffer(1, nullptr, image.data()), kGevNoRing);
}

TEST_F(Streaming, ClosingTheChannelUnderARunningAcquisitionStopsItFirst) {
    Start(Fast());
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    ASSERT_EQ(GEVGetImageBuffer(1, nullptr, image.data()), kGevOk);
    // The receive thread reads the socket the close gives back: it is stopped and
    // joined first, not left reading a closed (or another's reused) descriptor.
    EXPECT_EQ(GEVCloseStreamChannel(1), kGevOk);
    EXPECT_EQ(SlotOf(1)->record.acquisitionIdle.load(), 1u);
    EXPECT_FALSE(SlotOf(1)->stream.grabThread.joinable());
    EXPECT_EQ(GEVGetImageBuffer(1, nullptr, image.data()), kGevNoRing);
    // Open again, it streams again.
    ASSERT_EQ(GEVOpenStreamChannel(1, 0, 0, 0), kGevOk);
    ASSERT_EQ(GEVAcquisitionStartEx(1, 0, kPayload, 0, 0, 0), kGevOk);
    GevImageInfo info{};
    ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk);
    EXPECT_TRUE(PatternHolds(image, info.blockId));
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, LostPacketsComeBackByResend) {
    GevSim::Camera& sim = Start(Fast());
    ASSERT_EQ(GEVSetPacketResend(1, true), kGevOk);
    sim.faults().Stream().DropRatio(0.01, 7);
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    for (int i = 0; i < 20; ++i) {
        GevImageInfo info{};
        ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk) << "image " << i;
        EXPECT_TRUE(PatternHolds(image, info.blockId));
    }
    EXPECT_GT(sim.StreamStats().resendRequests, 0u);
    EXPECT_GT(sim.StreamStats().packetsResent, 0u);
    EXPECT_EQ(SlotOf(1)->stream.statistics.lostPackets.load(), 0u) << "every loss came back";
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Packet resend [BlockID "));
}

// A register access waiting for its acknowledge holds the control channel; the
// stream side must not wait behind it, neither to ask for a packet (its socket
// overflows meanwhile) nor to hand out an image. Another thread holds the lock
// here across the whole exchange, as such an access would.
TEST_F(Streaming, ResendRequestsDoNotWaitForTheControlChannel) {
    GevSim::Camera& sim = Start(Fast());
    ASSERT_EQ(GEVSetPacketResend(1, true), kGevOk);
    sim.faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {4},
                                      GevSim::StreamFaults::Drop::FirstTransmission);
    ASSERT_EQ(Begin(), kGevOk);
    std::promise<void> held, done;
    std::thread access([&] {
        std::lock_guard<std::recursive_mutex> busy(SlotOf(1)->controlLock);
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    std::vector<uint8_t> image(kPayload);
    for (int i = 0; i < 3; ++i) {
        GevImageInfo info{};
        EXPECT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk) << "image " << i;
        EXPECT_TRUE(PatternHolds(image, info.blockId));
    }
    const uint64_t resent = sim.StreamStats().packetsResent;
    done.set_value();
    access.join();
    EXPECT_GE(resent, 3u);
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, WithoutResendALostPacketMarksTheImageIncomplete) {
    GevSim::Camera& sim = Start(Fast());
    sim.faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {3});
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    GevImageInfo info{};
    EXPECT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevImageIncomplete);
    EXPECT_EQ(info.missingPackets, 1u);
    EXPECT_EQ(sim.StreamStats().resendRequests, 0u);
    EXPECT_GE(SlotOf(1)->stream.statistics.lostPackets.load(), 1u);
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_TRUE(LogCapture::Contains("[INFO] -Packets: "));
}

TEST_F(Streaming, ZeroCopySlotsAreTheAnnouncedBuffersOnceQueued) {
    Start(Fast());
    std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(kPayload, 0xEE));
    for (auto& buffer : buffers) ASSERT_EQ(GEVSetRingBuffer(1, 0, buffer.data()), kGevOk);
    uint16_t count = 0;
    ASSERT_EQ(GEVGetBufferCount(1, &count), kGevOk);
    EXPECT_EQ(count, 3);
    // The consumer still holds the third buffer: it must never be written.
    ASSERT_EQ(GEVQueueRingBuffer(1, 0), kGevOk);
    ASSERT_EQ(GEVQueueRingBuffer(1, 1), kGevOk);
    ASSERT_EQ(Begin(), kGevOk);
    for (int i = 0; i < 8; ++i) {
        GevImageInfo info{};
        uint16_t slot = 99;
        ASSERT_EQ(GEVGetRingBufferImage(1, &info, &slot), kGevOk);
        ASSERT_LT(slot, 2);
        EXPECT_TRUE(PatternHolds(buffers[slot], info.blockId));
        EXPECT_EQ(GEVQueueRingBuffer(1, slot), kGevOk);
        EXPECT_EQ(GEVQueueRingBuffer(1, slot), kGevNotSupported) << "queued twice";
    }
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_EQ(GEVReleaseRingBuffer(1), kGevOk);
    EXPECT_EQ(buffers[2], std::vector<uint8_t>(kPayload, 0xEE));
}

TEST_F(Streaming, ExtendedIdsAndAFrameLimit) {
    GevSim::CameraConfig config = Fast();
    config.extendedIds = true;
    config.firstBlockId = 0x100000000ull;
    Start(config);
    ASSERT_EQ(Begin(3), kGevOk);
    std::vector<uint8_t> image(kPayload);
    GevImageInfo info{};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk);
    EXPECT_GE(info.blockId, 0x100000000ull);
    EXPECT_TRUE(TestSockets::WaitFor([] { return SlotOf(1)->record.acquisitionIdle.load() == 1; }))
        << "the frame limit ends the acquisition";
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, SilenceEndsAWaitWithATimeOut) {
    Start(Fast());
    ASSERT_EQ(GEVAcquisitionStartEx(1, 0, kPayload, 0, 0, 0), kGevOk);  // the camera stays quiet
    std::vector<uint8_t> image(kPayload);
    GevImageInfo info{};
    EXPECT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevTimeout);
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, TestPacketAndPacketSizeSearch) {
    GevSim::CameraConfig config = Fast();
    config.address = "169.254.10.2";
    config.netns = TestNetns::CameraNamespace(0);
    Start(config, "169.254.10.1", "255.255.255.0");
    int32_t received = 0;
    ASSERT_EQ(GEVTestPacket(1, &received), kGevOk);
    EXPECT_EQ(received, 1500) << "the camera's packet size";
    EXPECT_TRUE(LogCapture::Contains("[INFO] -GEVTestPacket: data ok."));
    uint16_t size = 0;
    ASSERT_EQ(GEVTestFindMaxPacketSize(1, &size, 0, 20000, 4), kGevOk);
    EXPECT_GT(size, 1400);
    EXPECT_LE(size, 1500) << "never above the adapter's MTU";

    // Jumbo frames on both ends of the link: the search follows the MTU.
    const std::string host = std::getenv("GEVTLKRV_NETNS_HOST");
    ASSERT_TRUE(TestNetns::Ip(host, "link set gvh0 mtu 9000"));
    ASSERT_TRUE(TestNetns::Ip(TestNetns::CameraNamespace(0), "link set gvc0 mtu 9000"));
    ASSERT_EQ(GEVTestFindMaxPacketSize(1, &size, 0, 20000, 4), kGevOk);
    EXPECT_GT(size, 8900);
    EXPECT_LE(size, 9000);
    // Back to the namespaces' MTU, for whatever runs after in the same namespaces.
    TestNetns::Ip(host, "link set gvh0 mtu 1500");
    TestNetns::Ip(TestNetns::CameraNamespace(0), "link set gvc0 mtu 1500");
}

TEST_F(Streaming, ATestPacketWaitsForAStreamChannelClosingOnAnotherThread) {
    GevSim::Camera& sim = Start(Fast());
    sim.ClearReceivedCommands();
    auto packetSizeAccesses = [&] {
        size_t accesses = 0;
        for (const GevSim::ReceivedCommand& c : sim.ReceivedCommands())
            if (c.address == Vantor::Bootstrap::kStreamPacketSize) ++accesses;
        return accesses;
    };
    // A consumer closing the stream channel holds the stream lock throughout.
    std::unique_lock<std::recursive_mutex> closing(SlotOf(1)->streamLock);
    auto test = std::async(std::launch::async, [] {
        int32_t received = 0;
        const GevStatus status = GEVTestPacket(1, &received);
        return std::make_pair(status, received);
    });
    // The test packet reads the stream socket only once the close is through,
    // instead of draining and waiting on a socket that is going away.
    EXPECT_FALSE(TestSockets::WaitFor([&] { return packetSizeAccesses() > 0; },
                                      std::chrono::milliseconds(1000)));
    EXPECT_EQ(GEVCloseStreamChannel(1), kGevOk);
    closing.unlock();
    const auto [status, received] = test.get();
    EXPECT_EQ(status, kGevOk);
    EXPECT_EQ(received, 1500) << "through a socket of its own, the channel being closed";
}

TEST_F(Streaming, ReorderedDuplicatedAndTrailerlessBlocksStillArriveWhole) {
    GevSim::Camera& sim = Start(Fast());
    ASSERT_EQ(GEVSetPacketResend(1, true), kGevOk);
    StreamFaultsFor(sim);
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    int whole = 0;
    for (int i = 0; i < 8; ++i) {
        GevImageInfo info{};
        GevStatus status = GEVGetImageBuffer(1, &info, image.data());
        ASSERT_TRUE(status == kGevOk || status == kGevImageIncomplete) << status;
        if (status == kGevOk && PatternHolds(image, info.blockId)) ++whole;
    }
    EXPECT_GE(whole, 7) << "at most the block whose trailer was lost may wait for the next";
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, AShortTrailerDeliversTheRowsSentAndNothingElse) {
    GevSim::Camera& sim = Start(Fast());
    sim.faults().Stream().ShortTrailer(GevSim::StreamFaults::kEveryBlock, 100);
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload, 0x5A);
    GevImageInfo info{};
    GevImageExtent extent{};
    ASSERT_EQ(GEVGetImageBufferEx(1, &info, &extent, image.data(), image.size()), kGevOk);
    EXPECT_EQ(info.sizeY, 100u);
    EXPECT_EQ(image[99 * kWidth + 5], static_cast<uint8_t>(5 + 99 + info.blockId));
    EXPECT_EQ(image[100 * kWidth + 5], 0x5A) << "rows past the trailer's height are not written";
    EXPECT_EQ(extent.filledSize, 100u * kWidth);
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, BlockGapsAndDeviceDiscardsAreCounted) {
    GevSim::CameraConfig config = Fast();
    config.extendedIds = true;
    GevSim::Camera& sim = Start(config);
    ASSERT_EQ(Begin(), kGevOk);
    std::vector<uint8_t> image(kPayload);
    GevImageInfo info{};
    ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk);
    sim.faults().Stream().SkipBlockIds(2);
    for (int i = 0; i < 3; ++i) GEVGetImageBuffer(1, &info, image.data());
    EXPECT_TRUE(LogCapture::Contains("[ERROR] -Missing frames: "));
    EXPECT_GE(SlotOf(1)->stream.statistics.missingFrames.load(), 2u);
    sim.faults().Stream().FlagDeviceDiscard(GevSim::StreamFaults::kEveryBlock);
    for (int i = 0; i < 2; ++i) GEVGetImageBuffer(1, &info, image.data());
    EXPECT_TRUE(LogCapture::Contains("discarded on device side"));
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, DatagramsFromOtherSendersNeverLandInAnImage) {
    Start(Fast());
    ASSERT_EQ(Begin(), kGevOk);
    // A stranger floods the stream port with packets that look like the camera's.
    int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(TestSockets::Bind(stranger, "127.0.0.7", 0));
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        Bytes forged{0, 0, 0, 0, 0x03, 0, 0, 1};
        forged.resize(8 + 1024, 0xEE);
        for (int i = 0; i < 20000 && !stop; ++i) {
            for (uint16_t block = 1; block < 40; ++block) {
                forged[2] = static_cast<uint8_t>(block >> 8);
                forged[3] = static_cast<uint8_t>(block);
                TestSockets::SendTo(stranger, forged, Ip("127.0.0.1"),
                                    SlotOf(1)->record.streamPort);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<uint8_t> image(kPayload);
    for (int i = 0; i < 5; ++i) {
        GevImageInfo info{};
        ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk);
        EXPECT_TRUE(PatternHolds(image, info.blockId)) << "block " << info.blockId;
    }
    stop = true;
    flood.join();
    ::close(stranger);
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_TRUE(LogCapture::Contains("from other senders than the camera were dropped"));
}

TEST_F(Streaming, SixteenBitIdsWrapPastFFFFAndMono16ArrivesExact) {
    GevSim::CameraConfig config = Fast();
    config.frameRate = 10.0f;  // room for resends also under the sanitizers' slowness
    config.firstBlockId = 0xFFFD;
    config.pixelFormat = 0x01100007;  // Mono16
    Start(config);
    const uint32_t payload = kPayload * 2;
    ASSERT_EQ(GEVSetPacketResend(1, true), kGevOk);
    camera->faults().Stream().DropRatio(0.05, 3);
    ASSERT_EQ(GEVAcquisitionStartEx(1, 0, payload, 0, 0, 0), kGevOk);
    camera->StartStreaming();
    std::vector<uint8_t> image(payload);
    GevSim::StreamFormat format;
    format.width = kWidth;
    format.height = kHeight;
    format.pixelFormat = 0x01100007;
    std::vector<uint64_t> blocks;
    for (int i = 0; i < 6; ++i) {
        GevImageInfo info{};
        ASSERT_EQ(GEVGetImageBuffer(1, &info, image.data()), kGevOk) << "image " << i;
        blocks.push_back(info.blockId);
        bool exact = true;
        for (uint32_t y = 0; y < kHeight && exact; y += 7)
            for (uint32_t x = 0; x < kWidth && exact; x += 3) {
                const uint32_t at = 2 * (y * kWidth + x);
                const uint32_t value = image[at] | image[at + 1] << 8;
                exact = value == GevSim::StreamPayload::PixelValue(format, x, y, info.blockId);
            }
        EXPECT_TRUE(exact) << "block " << info.blockId;
    }
    // A block that waited for its resends may come out after the next one.
    auto seen = [&](uint64_t id) {
        return std::find(blocks.begin(), blocks.end(), id) != blocks.end();
    };
    EXPECT_EQ(blocks[0], 0xFFFDu);
    EXPECT_TRUE(seen(0xFFFF));
    EXPECT_TRUE(seen(1));
    EXPECT_FALSE(seen(0)) << "0 is never a block ID";
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
}

TEST_F(Streaming, StartStopAndDequeueFromTwoThreads) {
    Start(Fast());
    std::atomic<bool> stop{false};
    std::atomic<int> images{0};
    std::thread consumer([&] {
        std::vector<uint8_t> image(kPayload);
        while (!stop) {
            GevImageInfo info{};
            GevStatus status = GEVGetImageBuffer(1, &info, image.data());
            if (status == kGevOk) ++images;
            if (status == kGevNoRing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(Begin(), kGevOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        camera->StopStreaming();
        ASSERT_EQ(GEVAcquisitionStop(1), kGevOk);
    }
    stop = true;
    consumer.join();
    EXPECT_GT(images.load(), 0);
}

TEST_F(Streaming, PacketSizeSearchHonoursACameraThatRoundsItsPacketSize) {
    GevSim::CameraConfig config = Fast();
    config.address = "169.254.10.2";
    config.netns = TestNetns::CameraNamespace(0);
    config.packetSizeGranularity = 64;
    Start(config, "169.254.10.1", "255.255.255.0");
    uint16_t size = 0;
    ASSERT_EQ(GEVTestFindMaxPacketSize(1, &size, 0, 20000, 4), kGevOk);
    EXPECT_EQ(size % 64, 0) << size;
    EXPECT_GT(size, 1400);
    EXPECT_LE(size, 1500);
}

// While the consumer holds every buffer, each frame is an underrun, and the
// warning is logged once for the run, not once per frame.
TEST_F(Streaming, AnExhaustedRingWarnsOncePerRunAndCountsEveryFrame) {
    GevSim::CameraConfig config = Fast();
    config.frameRate = 200.0f;
    GevSim::Camera& sim = Start(config);
    std::vector<uint8_t> buffer(kPayload);
    ASSERT_EQ(GEVSetRingBuffer(1, 0, buffer.data()), kGevOk);
    ASSERT_EQ(GEVQueueRingBuffer(1, 0), kGevOk);
    ASSERT_EQ(Begin(), kGevOk);
    GevImageInfo info{};
    uint16_t slot = 99;
    ASSERT_EQ(GEVGetRingBufferImage(1, &info, &slot), kGevOk);
    const uint64_t sent = sim.StreamStats().blocksSent;
    EXPECT_TRUE(TestSockets::WaitFor([&] { return sim.StreamStats().blocksSent >= sent + 10; }));
    EXPECT_TRUE(TestSockets::WaitFor(
        [] { return SlotOf(1)->stream.statistics.underrunFrames.load() >= 9; }));
    EXPECT_EQ(LogCapture::Count("There is no buffer available"), 1u);
    ASSERT_EQ(GEVQueueRingBuffer(1, slot), kGevOk);
    ASSERT_EQ(GEVGetRingBufferImage(1, &info, &slot), kGevOk);
    EXPECT_TRUE(PatternHolds(buffer, info.blockId));
    EXPECT_EQ(GEVAcquisitionStop(1), kGevOk);
    EXPECT_TRUE(LogCapture::Contains("blocks dropped: no buffer was available"));
    EXPECT_EQ(GEVReleaseRingBuffer(1), kGevOk);
}
