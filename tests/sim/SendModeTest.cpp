// The batch and gso send modes as a plain host sees them: the same datagrams as plain
// mode, byte for byte and in the same order, for the same blocks of every payload type;
// seeded loss, duplicates and reordering; PACKETRESEND; and gso falling back to batches
// when the kernel refuses segmentation.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>

#include "StreamTestBase.h"

namespace SimTest {
namespace {

using GevSim::SendMode;
using GevSim::StreamFaults;

constexpr uint8_t kLeaderFormat = 1;

struct Capture {
    std::vector<GvspPacket> packets;
    std::vector<GvspPacket> resent;
    GevSim::StreamStatistics stats;
};

Bytes Encode(uint64_t value, bool bigEndian) {
    Bytes bytes(8);
    for (size_t i = 0; i < 8; ++i)
        bytes[bigEndian ? 7 - i : i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

// The datagrams with each block's timestamp zeroed, the one thing that differs between
// two cameras: in the leader, and wherever the block's data carries it (chunk
// block-info, GenDC descriptor), also across a packet boundary.
std::vector<Bytes> WithoutTimestamps(const std::vector<GvspPacket>& packets) {
    std::map<uint64_t, std::set<std::pair<uint32_t, size_t>>> masked;  // block -> (packet, offset)
    for (const auto& [id, block] : ByBlock(packets)) {
        if (block.leaders.empty()) continue;
        const uint64_t timestamp = Be64(block.leaders[0].Body() + 4);
        Bytes stream;
        std::vector<std::pair<uint32_t, size_t>> where;
        for (const auto& [packetId, copies] : block.data)
            for (size_t i = 0; i < copies[0].BodySize(); ++i) {
                stream.push_back(copies[0].Body()[i]);
                where.emplace_back(packetId, copies[0].headerSize + i);
            }
        for (bool bigEndian : {true, false}) {
            const Bytes pattern = Encode(timestamp, bigEndian);
            for (auto at = stream.begin(); (at = std::search(at, stream.end(), pattern.begin(),
                                                             pattern.end())) != stream.end();
                 ++at)
                for (size_t k = 0; k < 8; ++k) masked[id].insert(where[(at - stream.begin()) + k]);
        }
    }
    std::vector<Bytes> result;
    for (const GvspPacket& packet : packets) {
        Bytes bytes = packet.bytes;
        if (packet.format == kLeaderFormat && bytes.size() >= packet.headerSize + 12)
            std::fill_n(bytes.begin() + packet.headerSize + 4, 8, 0);
        for (const auto& [packetId, offset] : masked[packet.blockId])
            if (packetId == packet.packetId && packet.format != kLeaderFormat) bytes[offset] = 0;
        result.push_back(std::move(bytes));
    }
    return result;
}

class SendModeTest : public SimTestBase {
protected:
    // 256 x 40 Mono8 at SCPS 576: 18 full data packets of 540 bytes and one of 520 per
    // image, trailer id 20.
    static GevSim::CameraConfig ModeConfig(SendMode mode) {
        GevSim::CameraConfig config = Config();
        config.width = 256;
        config.height = 40;
        config.sendMode = mode;
        return config;
    }

    // Streams `frames` blocks from a fresh camera and collects them; `resend`, when
    // given, is a PACKETRESEND payload sent afterwards, and its answer is collected.
    Capture Stream(const GevSim::CameraConfig& config, uint32_t frames,
                   const std::function<void(StreamFaults&)>& faults = {},
                   const Bytes& resend = {}) {
        Capture run;
        GevSim::Camera& camera = StartCamera(config);
        GvcpTestClient client;
        GvspTestReceiver receiver;
        EXPECT_EQ(client.WriteReg(kCcp, 2), 0);
        EXPECT_EQ(client.WriteReg(kScda0, kHostIp), 0);
        EXPECT_EQ(client.WriteReg(kScp0, receiver.Port()), 0);
        EXPECT_EQ(client.WriteReg(kScps0, 576), 0);
        EXPECT_EQ(client.WriteReg(kAcquisitionFrameRateReg, FloatBits(100.0f)), 0);
        if (faults) faults(camera.faults().Stream());
        EXPECT_EQ(client.WriteReg(kAcquisitionModeReg, kMultiFrame), 0);
        EXPECT_EQ(client.WriteReg(kAcquisitionFrameCountReg, frames), 0);
        EXPECT_EQ(client.WriteReg(kAcquisitionStartReg, 1), 0);
        run.packets = receiver.Collect(frames);
        if (!resend.empty()) {
            client.Send(0x0040, resend, 0x00);
            run.resent = receiver.Collect(SIZE_MAX, 300);  // until quiet
        }
        run.stats = camera.StreamStats();
        camera.Stop();  // frees the address for the next camera
        return run;
    }

    static void ExpectSameDatagrams(const Capture& plain, const Capture& fast,
                                    const std::string& what) {
        ASSERT_FALSE(plain.packets.empty()) << what;
        ASSERT_EQ(plain.packets.size(), fast.packets.size()) << what;
        const auto a = WithoutTimestamps(plain.packets), b = WithoutTimestamps(fast.packets);
        for (size_t i = 0; i < a.size(); ++i)
            ASSERT_EQ(a[i], b[i]) << what << ", datagram " << i << " (block "
                                  << plain.packets[i].blockId << ", packet "
                                  << plain.packets[i].packetId << ")";
    }
};

TEST_F(SendModeTest, EveryPayloadTypeLeavesAsInPlainMode) {
    struct Case {
        const char* name;
        uint16_t payloadType;
        uint32_t parts;
        bool extendedIds;
    };
    const Case cases[] = {
        {"image", 0x0001, 2, false},        {"chunk", 0x4001, 2, true},
        {"raw", 0x0002, 2, false},          {"chunk-data", 0x0004, 2, true},
        {"jpeg", 0x0006, 2, false},         {"multi-part", 0x000A, 2, true},
        {"multi-part 3", 0x000A, 3, false}, {"gendc", 0x000B, 2, true},
    };
    for (const Case& c : cases) {
        auto configure = [&](SendMode mode) {
            GevSim::CameraConfig config = ModeConfig(mode);
            config.payloadType = c.payloadType;
            config.multiPartParts = c.parts;
            config.extendedIds = c.extendedIds;
            return config;
        };
        const Capture plain = Stream(configure(SendMode::Plain), 3);
        EXPECT_EQ(plain.stats.segmentedSends, 0u);
        for (SendMode mode : {SendMode::Batch, SendMode::Gso}) {
            const std::string what =
                std::string(c.name) + (mode == SendMode::Gso ? " in gso mode" : " in batch mode");
            const Capture fast = Stream(configure(mode), 3);
            ExpectSameDatagrams(plain, fast, what);
            EXPECT_EQ(fast.stats.packetsSent, plain.stats.packetsSent) << what;
            EXPECT_EQ(fast.stats.blocksSent, 3u) << what;
            if (mode == SendMode::Gso)
                EXPECT_GT(fast.stats.segmentedSends, 0u) << what;
            else
                EXPECT_EQ(fast.stats.segmentedSends, 0u) << what;
        }
    }
}

TEST_F(SendModeTest, SeededLossDuplicatesAndReorderingAreTheSameInEveryMode) {
    auto faults = [](StreamFaults& f) {
        f.DropRatio(0.05, 11);
        f.DuplicateRatio(0.05, 11);
        f.ReorderRatio(0.1, 11, 3);
        f.DropPackets(2, {5});
    };
    const Capture plain = Stream(ModeConfig(SendMode::Plain), 4, faults);
    // The faults did happen: packets missing, sent twice, out of order.
    size_t missing = 0, twice = 0, backwards = 0;
    std::map<uint64_t, uint32_t> last;
    for (const GvspPacket& p : plain.packets) {
        if (last.count(p.blockId) && p.packetId < last[p.blockId]) ++backwards;
        last[p.blockId] = std::max(last[p.blockId], p.packetId);
    }
    for (const auto& [id, block] : ByBlock(plain.packets)) {
        for (uint32_t packetId = 1; packetId <= 19; ++packetId)
            missing += block.data.count(packetId) == 0;
        for (const auto& [packetId, copies] : block.data) twice += copies.size() > 1;
    }
    EXPECT_GT(missing, 0u);
    EXPECT_GT(twice, 0u);
    EXPECT_GT(backwards, 0u);
    EXPECT_GT(plain.stats.packetsDropped, 0u);
    for (SendMode mode : {SendMode::Batch, SendMode::Gso}) {
        const Capture fast = Stream(ModeConfig(mode), 4, faults);
        ExpectSameDatagrams(plain, fast, mode == SendMode::Gso ? "gso" : "batch");
        EXPECT_EQ(fast.stats.packetsDropped, plain.stats.packetsDropped);
        EXPECT_EQ(fast.stats.packetsSent, plain.stats.packetsSent);
    }
}

TEST_F(SendModeTest, PacketResendIsAnsweredFromTheKeptBlock) {
    auto faults = [](StreamFaults& f) {
        f.DropPackets(StreamFaults::kEveryBlock, {2, 3, 4, 5, 6, 7, 8, 9});
    };
    // 16-bit request: channel 0, block 1, packets 1..24, past the trailer (20).
    Bytes request;
    for (uint16_t v : {0, 1}) PutBe16(request, v);
    PutBe32(request, 1);
    PutBe32(request, 24);
    const Capture plain = Stream(ModeConfig(SendMode::Plain), 1, faults, request);
    ASSERT_EQ(plain.resent.size(), 21u);  // packets 1..20, then PACKET_UNAVAILABLE for 21
    EXPECT_EQ(plain.resent.back().status, 0x800C);
    EXPECT_EQ(plain.resent.back().packetId, 21u);
    EXPECT_EQ(plain.stats.packetsResent, 20u);
    for (SendMode mode : {SendMode::Batch, SendMode::Gso}) {
        const std::string what = mode == SendMode::Gso ? "gso" : "batch";
        const Capture fast = Stream(ModeConfig(mode), 1, faults, request);
        ExpectSameDatagrams(plain, fast, what);
        ASSERT_EQ(fast.resent.size(), plain.resent.size()) << what;
        const auto a = WithoutTimestamps(plain.resent), b = WithoutTimestamps(fast.resent);
        EXPECT_EQ(a, b) << what;
        EXPECT_EQ(fast.stats.packetsResent, 20u) << what;
        EXPECT_EQ(fast.stats.packetsUnavailable, 1u) << what;
        // Data packets 1 and 10..19 of the first transmission, then 1..19 of the
        // answer: one run each, the trailer and the leader alone.
        EXPECT_EQ(fast.stats.segmentedSends, mode == SendMode::Gso ? 2u : 0u) << what;
    }
}

TEST_F(SendModeTest, GsoFallsBackToBatchesWhenTheKernelRefusesIt) {
    const Capture plain = Stream(ModeConfig(SendMode::Plain), 3);
    GevSim::CameraConfig config = ModeConfig(SendMode::Gso);
    config.refuseGso = true;
    testing::internal::CaptureStderr();
    const Capture fallback = Stream(config, 3);
    const std::string said = testing::internal::GetCapturedStderr();
    ExpectSameDatagrams(plain, fallback, "gso refused");
    EXPECT_EQ(fallback.stats.segmentedSends, 0u);
    EXPECT_EQ(fallback.stats.packetsSent, plain.stats.packetsSent);
    const std::string message = "UDP segmentation offload refused";
    const size_t first = said.find(message);
    EXPECT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find(message, first + 1), std::string::npos) << "said more than once: " << said;
}

}  // namespace
}  // namespace SimTest
