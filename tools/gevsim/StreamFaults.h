// Misbehaviours of the GVSP stream a test switches on at run time. All deterministic:
// rules name blocks and packet ids, and the ratios (loss, duplicates, reordering) are
// hashes of (seed, block id, packet id), so the same seed upsets the same packets in
// every run. Block ids are the ones on the wire (after 16-bit wrap). Rules stay until
// Clear(). Safe from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace GevSim {

class StreamFaults {
public:
    static constexpr uint64_t kEveryBlock = UINT64_MAX;
    static constexpr uint32_t kLeader = 0;
    static constexpr uint32_t kTrailer = UINT32_MAX;  // stands for the trailer's packet id

    enum class Drop {
        FirstTransmission,  // a resend of the packet gets through
        Always,             // resends are lost as well
    };

    // Packets `packetIds` of block `blockId` (or of every block) are not sent.
    void DropPackets(uint64_t blockId, std::vector<uint32_t> packetIds,
                     Drop when = Drop::FirstTransmission);
    // Each packet is lost with probability `ratio` (0..1), decided by the seed.
    void DropRatio(double ratio, uint64_t seed, Drop when = Drop::FirstTransmission);
    // Ratio loss never takes every packet of a block on first transmission: when it
    // would, the first data packet (or, failing that, the leader, then the trailer) not
    // dropped by a DropPackets rule gets through. So every block made reaches the host.
    void SpareOnePacketPerBlock(bool spare = true);
    // Each packet's first transmission is sent twice in a row with probability `ratio`.
    void DuplicateRatio(double ratio, uint64_t seed);
    // With probability `ratio` a packet is held back and leaves 1..`maxDistance` places
    // later in its block's sending order (a held packet can pass the trailer; it never
    // leaves the block).
    void ReorderRatio(double ratio, uint64_t seed, uint32_t maxDistance = 3);
    // Packets `first` and `second` of the block trade places in the sending order.
    void SwapPackets(uint64_t blockId, uint32_t first, uint32_t second);
    // Each of these packets is sent twice in a row.
    void DuplicatePackets(uint64_t blockId, std::vector<uint32_t> packetIds);
    // The image ends after `rows` lines: the later lines' packets are not sent and
    // the trailer reports `rows` (smaller than the leader's size Y).
    void ShortTrailer(uint64_t blockId, uint32_t rows);
    // The leader carries the "device discarded earlier blocks" flag (extended ids).
    void FlagDeviceDiscard(uint64_t blockId);
    // Once: the next block id jumps `count` ids ahead (the skipped ids are never sent).
    void SkipBlockIds(uint64_t count);
    // The packet carries `status` (its data is kept), also when resent.
    void SetPacketStatus(uint64_t blockId, uint32_t packetId, uint16_t status);
    // Blocks are still made (ids advance, resends are remembered) but nothing is sent.
    void SetSilent(bool silent);
    void Clear();

    // What the rules mean for one block; packet ids resolved against its trailer id.
    struct BlockPlan {
        uint64_t blockId = 0;
        uint32_t trailerId = 0;
        std::vector<std::pair<uint32_t, bool>> drops;  // packet id, also on resend
        double ratio = 0;
        uint64_t seed = 0;
        bool ratioAlways = false;
        std::optional<uint32_t> spared;  // kept from ratio loss on first transmission
        double duplicateRatio = 0;
        uint64_t duplicateSeed = 0;
        double reorderRatio = 0;
        uint64_t reorderSeed = 0;
        uint32_t reorderDistance = 0;
        std::vector<std::pair<uint32_t, uint32_t>> swaps;
        std::vector<uint32_t> duplicates;
        std::vector<std::pair<uint32_t, uint16_t>> statuses;
        std::optional<uint32_t> shortRows;
        bool deviceDiscard = false;

        bool Drops(uint32_t packetId, bool resend) const;
        bool Duplicated(uint32_t packetId) const;
        uint16_t Status(uint32_t packetId) const;
        // Packet ids 0..trailerId in their first transmission's order: swaps, then
        // held packets moved later. Each id once; drops and duplicates not applied.
        std::vector<uint32_t> Order() const;
        // How many places packet `packetId` is held back by the reorder ratio (0: none).
        uint32_t Held(uint32_t packetId) const;

    private:
        bool DroppedByRule(uint32_t packetId, bool resend) const;
        bool DroppedByRatio(uint32_t packetId, bool resend) const;
        friend class StreamFaults;
    };
    // Call with trailerId 0 first to learn shortRows, then again with the real one.
    BlockPlan Plan(uint64_t blockId, uint32_t trailerId) const;
    uint64_t TakeBlockIdSkip();
    bool Silent() const;

private:
    static std::optional<uint32_t> SparedPacket(const BlockPlan& plan);

    struct Rule {
        uint64_t blockId;
        uint32_t packetId;
        uint32_t second = 0;  // swap partner
        uint16_t status = 0;
        bool always = false;
    };

    mutable std::mutex mutex_;
    std::vector<Rule> drops_;
    std::vector<Rule> swaps_;
    std::vector<Rule> duplicates_;
    std::vector<Rule> statuses_;
    std::vector<std::pair<uint64_t, uint32_t>> shortRows_;
    std::vector<uint64_t> discards_;
    double ratio_ = 0;
    uint64_t seed_ = 0;
    bool ratioAlways_ = false;
    bool spare_ = false;
    double duplicateRatio_ = 0;
    uint64_t duplicateSeed_ = 0;
    double reorderRatio_ = 0;
    uint64_t reorderSeed_ = 0;
    uint32_t reorderDistance_ = 0;
    uint64_t skip_ = 0;
    bool silent_ = false;
};

}  // namespace GevSim
