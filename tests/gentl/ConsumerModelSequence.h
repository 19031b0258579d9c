// What one randomized consumer run does, as a pure function of its seed: the
// camera's stream (payload type, geometry, rate, seeded loss, reorder and
// duplicates), the stream's delivery mode, and the list of consumer steps.
// The same seed gives the same configuration and steps on every machine, so a
// failing run is replayed with its seed and its step count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ConsumerModel {

// A payload type the simulator streams, and how a consumer recognises it.
// Another type is one line here once the simulator builds it.
struct PayloadKind {
    uint16_t gvsp;  // the GVSP payload type the camera sends
    const char* name;
    size_t gentlType;  // BUFFER_INFO_PAYLOADTYPE of a delivered buffer
    bool image;        // carries width, height and pixel format
};

extern const PayloadKind kPayloadKinds[];
extern const size_t kPayloadKindCount;

enum class Delivery { Copy, ZeroCopy, Both };  // Both: switched while not acquiring

// Packet faults, all deterministic: by block id and packet id, or a seeded ratio.
struct PacketRule {
    uint64_t blockId;
    uint32_t first;
    uint32_t second;  // swap partner; unused for drops and duplicates
};

struct SequenceConfig {
    const PayloadKind* payload = nullptr;
    uint32_t width = 64;
    uint32_t height = 48;
    bool paddedCamera = false;  // the camera that pads its lines
    float frameRate = 200.0f;
    Delivery delivery = Delivery::Copy;
    bool resend = false;
    bool smallBuffers = false;      // copy delivery may announce buffers smaller than the payload
    std::vector<PacketRule> drops;  // data packets only: a block always stays visible
    std::vector<PacketRule> swaps;
    std::vector<PacketRule> duplicates;
    double dropRatio = 0;
    uint64_t dropSeed = 0;

    std::string Describe() const;
};

enum class Op : uint8_t {
    Announce,       // a: size class
    AllocAnnounce,  // a: size class
    Queue,          // a: buffer pick
    Revoke,         // a: buffer pick
    Flush,          // a: ACQ_QUEUE_TYPE
    Start,          // a: 0 for GENTL_INFINITE, else the frame count
    Stop,           // a: ACQ_STOP_FLAGS
    CleanStop,      // camera stop, wait until the producer saw every block, stream stop
    GetData,        // a: time-out in ms
    Consume,        // a: frames taken and queued again
    Kill,
    KillWaiter,  // a waiting thread, killed
    EventFlush,
    Reopen,  // DSClose, then the stream again
    CameraStart,
    CameraStop,
    ToggleResend,
    ToggleZeroCopy,
};

struct Step {
    Op op;
    uint32_t a = 0;
    std::string Describe() const;
};

SequenceConfig MakeConfig(uint64_t seed);
std::vector<Step> MakeSteps(uint64_t seed, const SequenceConfig& config, size_t count);

// The deterministic random source of the generator: SplitMix64, the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }

private:
    uint64_t state_;
};

}  // namespace ConsumerModel
