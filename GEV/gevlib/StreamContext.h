// The receive side of one device's stream channel: the ring slots and their
// block records, the two slot lists, the assembly state, the statistics and
// the frame-rate meter.
//
// Threads: the receive thread alone touches the assembly state and the open
// blocks; the slot lists, the frame-rate meter and the statistics are shared
// with the consumer's thread and have locks or atomics of their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "GvspPackets.h"
#include "VantorLib.h"

namespace Vantor {

enum BlockStatus : uint16_t { kBlockComplete = 0, kBlockIncomplete = 2, kBlockHeaderMismatch = 3 };
// kPacketShort: fewer bytes than a full packet, while the block's packet count is
// unknown; it is whole only if it turns out to be the block's last packet.
enum PacketState : uint8_t {
    kPacketMissing = 0,
    kPacketReceived = 1,
    kPacketRequested = 2,
    kPacketShort = 3,
};

// One ring slot and the block it holds.
struct GevBufferDescriptor {
    uint8_t* data = nullptr;
    std::vector<uint8_t> ownData;  // when no user buffer was announced
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
    uint32_t pixelFormat = 0, sizeX = 0, sizeY = 0, offsetX = 0, offsetY = 0;
    uint16_t paddingX = 0, paddingY = 0;
    uint32_t missingPackets = 0;  // of the first packetCount packets
    uint32_t packetCount = 0;     // data packets the block carries: fewer for a smaller image
    // The leader's geometry (plain image) or the trailer's packet ID told packetCount;
    // until then the block may carry any number up to the packet map's size.
    bool countKnown = false;
    uint16_t payloadType = 0;
    uint32_t chunkDataLength = 0, chunkLayoutId = 0;
    uint16_t status = kBlockComplete;
    uint16_t index = 0;
    std::vector<uint8_t> packetMap;  // PacketState per packet, index = packet ID - 1
    uint32_t resendRequested = 0, resendReceived = 0;
    uint32_t resendIssued = 0;
    bool outOfOrder = false;
    uint32_t trailerSizeY = 0;
    uint32_t packetDataSize = 0;
    // Bytes the camera means to send (leader or trailer; 0 unknown), the furthest
    // end of data it sent (beyond the buffer too), and the furthest end stored.
    uint64_t dataSize = 0;
    uint64_t dataEnd = 0;
    uint64_t filled = 0;
    uint8_t genDcFlags = 0;
    uint32_t nextPacket = 1;
    bool handedOut = false;   // with the consumer until queued again (zero-copy path)
    bool leaderSeen = false;  // without its leader a block has no geometry
    bool trailerSeen = false;
    bool leaderAsked = false;
    bool overflow = false;    // the image is larger than the buffer: its end was dropped
    bool ownOffsets = false;  // multi-part or GenDC: each data packet says where it goes
    std::vector<Gvsp::PartDescriptor> parts;  // multi-part: the leader's parts, in block order
    uint64_t bytesReceived = 0;               // of packets that say where they go
    bool finished = false;  // handed to delivery, maybe held back for an older block
};

// A FIFO of ring slots with its own lock.
class SlotList {
public:
    void Append(GevBufferDescriptor* slot);
    GevBufferDescriptor* TakeHead();
    void PutBackAtHead(GevBufferDescriptor* slot);
    // Takes `slot` out of the list; false when it is not in it.
    bool Remove(GevBufferDescriptor* slot);
    size_t Count() const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::deque<GevBufferDescriptor*> m_slots;
};

// What the acquisition start decides for the receiver.
// A flag a caller may change while the receive thread reads it; copyable, so
// that the settings still reset by assignment.
class LiveFlag {
public:
    LiveFlag(bool value = false) : m_value(value) {}
    LiveFlag(const LiveFlag& other) : m_value(other.m_value.load()) {}
    LiveFlag& operator=(const LiveFlag& other) {
        m_value = other.m_value.load();
        return *this;
    }
    LiveFlag& operator=(bool value) {
        m_value = value;
        return *this;
    }
    operator bool() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_value;
};

struct StreamSettings {
    uint32_t payloadSize = 0;
    uint32_t expectedWidth = 0, expectedHeight = 0, expectedPixelFormat = 0;
    bool sizeOnlyCheck = true;
    LiveFlag resendEnabled{false};  // switched while grabbing
    uint8_t resendCount = 10;
    uint32_t packetDataSize = 0;
    uint32_t packetsPerBlock = 0;  // for a payload of generic data packets
    bool extraPacket = false;
};

// The block IDs a stream carries, as its first packet shows; the values are
// the GigE Vision major version that brought each width.
enum class BlockIdMode : uint8_t { Unknown = 0, Short = 1, Extended = 2 };

// Assembly state of the receive thread.
struct AssemblyState {
    BlockIdMode blockIdMode = BlockIdMode::Unknown;
    size_t headerSize = 8;
    uint64_t blockIdMask = 0xFFFF;
    uint64_t currentBlockId = 0;
    uint64_t nextBlockId = 0;
    GevBufferDescriptor* current = nullptr;
    GevBufferDescriptor* previous = nullptr;
    GevBufferDescriptor* early = nullptr;
    // Finished blocks waiting for an older open block: delivery keeps block order.
    std::vector<GevBufferDescriptor*> held;
    bool packetSizeCheckOff = true;
    bool packetLargerSeen = false;
    uint64_t lastTimestamp = 0;
    uint16_t lastPayloadType = 0;  // of the last leader: the stream's, for a block without one
    uint64_t discardBase = 1;
    // Accounting: nextBlockId is the oldest ID not yet delivered, dropped or
    // counted lost; blocks dropped while an older one is open wait in `dropped`.
    bool accounting = false;
    std::vector<uint64_t> dropped;
    uint32_t underrunRun = 0;      // blocks dropped since a slot was last free
    uint32_t lastAccountTick = 0;  // when the accounting last moved
    // Blocks whose leader was asked for lately (ID, tick of the request), newest
    // last: an answer that comes after its block went out must not start the
    // block again. Answers come within milliseconds; a camera that starts its
    // IDs over may send the same ID again later as a new block.
    struct AskedLeader {
        uint64_t blockId;
        uint32_t tick;
    };
    std::deque<AskedLeader> askedLeaders;
    static constexpr size_t kAskedLeadersKept = 8;
    static constexpr uint32_t kAskedLeaderWindowMs = 250;
};

// Counters of one acquisition; written by the receive thread (and by the stop
// and the hand-out for frames they drop), read by others. Each block the camera
// sent is one of: started (given a slot), underrun (no free slot) or lost (never
// seen); a started one is later delivered to the deliver list.
struct StreamStatistics {
    std::atomic<uint32_t> frameCount{0};     // delivered and missing
    std::atomic<uint32_t> missingFrames{0};  // block IDs never seen
    std::atomic<uint32_t> lostPackets{0};
    std::atomic<uint32_t> discardedBlocks{0};
    std::atomic<uint32_t> resendRequested{0};  // packets asked for again
    std::atomic<uint32_t> resentPackets{0};    // of those, the ones that came
    std::atomic<uint32_t> framesStarted{0};
    std::atomic<uint32_t> deliveredFrames{0};  // to the deliver list
    std::atomic<uint32_t> underrunFrames{0};
    // Never seen, or dropped inside the library after delivery (left at a stop,
    // or an incomplete slot recycled in release mode).
    std::atomic<uint32_t> lostFrames{0};
    void Reset() {
        frameCount = missingFrames = lostPackets = discardedBlocks = resendRequested = 0;
        resentPackets = 0;
        framesStarted = deliveredFrames = underrunFrames = lostFrames = 0;
    }
};

// Frames per second over windows of one second, with its own lock.
class FrameRateMeter {
public:
    void Reset(int64_t tickFrequency);
    void Update(int64_t nowTicks);
    // Frames per second; `stable` tells whether a full window was measured.
    double Read(bool* stable) const;

private:
    mutable std::mutex m_lock;
    bool m_started = false;
    int64_t m_startTicks = 0, m_elapsedTicks = 0, m_tickFrequency = 1;
    uint32_t m_frameCounter = 0, m_lastFrames = 0;
    int64_t m_lastTicks = 0;
};

// Everything the stream side keeps per device slot. Under the slot's stream
// lock unless marked otherwise; the receive thread, from the start that
// launches it to the stop that joins it, reads the settings, the ring, the
// packet offsets and frameLimit without that lock and alone owns `assembly`.
struct StreamState {
    StreamSettings settings;
    AssemblyState assembly;
    StreamStatistics statistics;
    FrameRateMeter meter;

    // The ring of the running acquisition and its two lists.
    std::vector<std::unique_ptr<GevBufferDescriptor>> ring;
    bool ringReady = false;
    SlotList queued;
    SlotList delivered;
    std::vector<uint32_t> packetOffsets;
    // Set by every delivery, reset by every dequeue (a manual-reset event).
    std::mutex imageLock;
    std::condition_variable imageArrived;
    bool imageSignalled = false;
    // Set by the stop (under imageLock): ends the waits for an image at once.
    bool waitAborted = false;
    // Set when the receive thread has left (under imageLock): nothing more will come.
    bool receiveEnded = false;

    std::vector<uint8_t*> userBuffers;
    // User buffer slots given back before the start; when any is marked, only
    // those are free at the start and the others wait for GEVQueueRingBuffer.
    std::vector<bool> userSlotsQueued;
    uint16_t bufferCount = 4;
    bool releaseMode = false;
    uint32_t frameLimit = 0;
    double frameRate = 0.0;
    GevImageInfo lastImageInfo{};
    std::thread grabThread;
    uint16_t resendRequestId = 0;  // kept across acquisitions; under the control socket lock

    // Back to the state after device open.
    void Reset();
};

}  // namespace Vantor
