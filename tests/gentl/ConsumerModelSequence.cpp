#include "ConsumerModelSequence.h"

#include <sstream>

#include "GenTL.h"
#include "StreamPayload.h"

namespace ConsumerModel {

const PayloadKind kPayloadKinds[] = {
    {0x0001, "image", GenTL::PAYLOAD_TYPE_IMAGE, true},
    {0x4001, "image+chunk", GenTL::PAYLOAD_TYPE_CHUNK_DATA, true},
    {0x0002, "raw", GenTL::PAYLOAD_TYPE_RAW_DATA, false},
    {0x0006, "jpeg", GenTL::PAYLOAD_TYPE_JPEG, false},
    {0x0004, "chunk", GenTL::PAYLOAD_TYPE_CHUNK_ONLY, false},
    {0x000A, "multi-part", GenTL::PAYLOAD_TYPE_MULTI_PART, false},
    {0x000B, "gendc", GenTL::PAYLOAD_TYPE_GENDC, false},
};
const size_t kPayloadKindCount = sizeof kPayloadKinds / sizeof kPayloadKinds[0];

uint64_t Random::Next() {
    uint64_t x = (state_ += 0x9E3779B97F4A7C15ull);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

namespace {

// Blocks at most this large stay under 16 packets of 1500 bytes, so the camera's
// stream thread never serves a request in the middle of a block (see Fence()).
constexpr uint32_t kMaxPayload = 13 * 1464;

void AddRules(Random& random, std::vector<PacketRule>* rules, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        rules->push_back({1 + random.Below(240), random.Below(1000), random.Below(1000)});
}

std::string RuleList(const std::vector<PacketRule>& rules, bool pairs) {
    std::ostringstream out;
    for (const PacketRule& r : rules) {
        out << " " << r.blockId << ":" << r.first;
        if (pairs) out << "<>" << r.second;
    }
    return out.str();
}

}  // namespace

SequenceConfig MakeConfig(uint64_t seed) {
    Random random(seed ^ 0xC0FFEEull);
    SequenceConfig config;
    config.payload = &kPayloadKinds[random.Below(static_cast<uint32_t>(kPayloadKindCount))];
    // Multi-part and GenDC packets carry 8 and 16 bytes of their own: room for them.
    GevSim::StreamFormat format;
    format.payloadType = config.payload->gvsp;
    do {
        config.width = 8 * (4 + random.Below(17));
        config.height = 16 + random.Below(97);
        format.width = config.width;
        format.height = config.height;
    } while (GevSim::StreamPayload::PayloadSize(format) + 16 * 16 > kMaxPayload);
    // Padded lines only for plain images: a copy without the padding is an image.
    config.paddedCamera = config.payload->gvsp == 0x0001 && random.Chance(25);
    config.frameRate = static_cast<float>(100 + 50 * random.Below(3));
    const uint32_t delivery = random.Below(10);
    config.delivery = delivery < 4   ? Delivery::Copy
                      : delivery < 8 ? Delivery::ZeroCopy
                                     : Delivery::Both;
    config.resend = random.Chance(50);
    config.smallBuffers = config.delivery == Delivery::Copy && random.Chance(30);
    if (random.Chance(60)) AddRules(random, &config.drops, 2 + random.Below(20));
    if (random.Chance(50)) AddRules(random, &config.swaps, 2 + random.Below(20));
    if (random.Chance(40)) AddRules(random, &config.duplicates, 2 + random.Below(20));
    if (random.Chance(35)) {
        config.dropRatio = random.Chance(50) ? 0.02 : 0.05;
        config.dropSeed = random.Next();
    }
    return config;
}

std::string SequenceConfig::Describe() const {
    static const char* const deliveries[] = {"copy", "zero-copy", "copy and zero-copy"};
    std::ostringstream out;
    out << payload->name << " " << width << "x" << height << (paddedCamera ? " padded" : "") << ", "
        << frameRate << " fps, " << deliveries[static_cast<int>(delivery)]
        << (smallBuffers ? " with small buffers" : "") << ", resend " << (resend ? "on" : "off");
    if (!drops.empty()) out << "; drop" << RuleList(drops, false);
    if (!swaps.empty()) out << "; swap" << RuleList(swaps, true);
    if (!duplicates.empty()) out << "; duplicate" << RuleList(duplicates, false);
    if (dropRatio > 0) out << "; drop ratio " << dropRatio << " seed " << dropSeed;
    return out.str();
}

std::vector<Step> MakeSteps(uint64_t seed, const SequenceConfig& config, size_t count) {
    struct Weighted {
        Op op;
        uint32_t weight;
    };
    // Weighted so that an acquisition with frames flowing is the usual state.
    static const Weighted kWeights[] = {
        {Op::Announce, 4},     {Op::AllocAnnounce, 3},  {Op::Queue, 16},      {Op::Revoke, 4},
        {Op::Flush, 8},        {Op::Start, 8},          {Op::Stop, 3},        {Op::CleanStop, 4},
        {Op::GetData, 10},     {Op::Consume, 16},       {Op::Kill, 2},        {Op::KillWaiter, 1},
        {Op::EventFlush, 2},   {Op::Reopen, 1},         {Op::CameraStart, 7}, {Op::CameraStop, 2},
        {Op::ToggleResend, 1}, {Op::ToggleZeroCopy, 1},
    };
    uint32_t total = 0;
    for (const Weighted& w : kWeights) total += w.weight;
    Random random(seed);
    std::vector<Step> steps;
    // A consumer's usual opening, so that most runs reach frames early.
    steps.push_back({Op::Announce, 1});
    steps.push_back({Op::AllocAnnounce, 0});
    steps.push_back({Op::Announce, 0});
    steps.push_back({Op::Flush, GenTL::ACQ_QUEUE_UNQUEUED_TO_INPUT});
    steps.push_back({Op::Start, 0});
    steps.push_back({Op::CameraStart, 0});
    steps.push_back({Op::Consume, 6});
    while (steps.size() < count) {
        uint32_t pick = random.Below(total);
        Op op = kWeights[0].op;
        for (const Weighted& w : kWeights) {
            if (pick < w.weight) {
                op = w.op;
                break;
            }
            pick -= w.weight;
        }
        if (op == Op::ToggleZeroCopy && config.delivery != Delivery::Both) continue;
        Step step{op, 0};
        switch (op) {
            case Op::Announce:
            case Op::AllocAnnounce:
                step.a = random.Below(4);  // payload size, larger, much larger, smaller
                break;
            case Op::Queue:
            case Op::Revoke:
                step.a = random.Below(1000);
                break;
            case Op::Flush:
                step.a = random.Below(5);
                break;
            case Op::Start:
                step.a = random.Chance(70) ? 0 : 1 + random.Below(4);
                break;
            case Op::Stop:
                step.a =
                    random.Chance(60) ? GenTL::ACQ_STOP_FLAGS_DEFAULT : GenTL::ACQ_STOP_FLAGS_KILL;
                break;
            case Op::GetData: {
                static const uint32_t kTimeouts[] = {0, 5, 20, 60, 150};
                step.a = kTimeouts[random.Below(5)];
                break;
            }
            case Op::Consume:
                step.a = 1 + random.Below(12);
                break;
            default:
                break;
        }
        steps.push_back(step);
    }
    steps.resize(count);
    return steps;
}

std::string Step::Describe() const {
    static const char* const flushes[] = {"input to output", "output discard", "all to input",
                                          "unqueued to input", "all discard"};
    std::ostringstream out;
    switch (op) {
        case Op::Announce:
        case Op::AllocAnnounce: {
            static const char* const sizes[] = {"payload", "payload + 256", "twice the payload",
                                                "payload - 512"};
            out << (op == Op::Announce ? "DSAnnounceBuffer " : "DSAllocAndAnnounceBuffer ")
                << sizes[a % 4];
            break;
        }
        case Op::Queue:
            out << "DSQueueBuffer pick " << a;
            break;
        case Op::Revoke:
            out << "DSRevokeBuffer pick " << a;
            break;
        case Op::Flush:
            out << "DSFlushQueue " << flushes[a % 5];
            break;
        case Op::Start:
            out << "DSStartAcquisition ";
            if (a == 0)
                out << "GENTL_INFINITE";
            else
                out << a;
            break;
        case Op::Stop:
            out << "DSStopAcquisition " << (a == GenTL::ACQ_STOP_FLAGS_KILL ? "kill" : "default");
            break;
        case Op::CleanStop:
            out << "camera stop, all blocks seen, DSStopAcquisition";
            break;
        case Op::GetData:
            out << "EventGetData " << a << " ms";
            break;
        case Op::Consume:
            out << "consume up to " << a << " frames";
            break;
        case Op::Kill:
            out << "EventKill";
            break;
        case Op::KillWaiter:
            out << "EventKill of a waiting thread";
            break;
        case Op::EventFlush:
            out << "EventFlush";
            break;
        case Op::Reopen:
            out << "DSClose and DevOpenDataStream";
            break;
        case Op::CameraStart:
            out << "camera AcquisitionStart";
            break;
        case Op::CameraStop:
            out << "camera AcquisitionStop";
            break;
        case Op::ToggleResend:
            out << "packet resend switched";
            break;
        case Op::ToggleZeroCopy:
            out << "UseUserBuffer switched";
            break;
    }
    return out.str();
}

}  // namespace ConsumerModel
