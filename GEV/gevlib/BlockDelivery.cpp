// The end of a block's assembly: its status settled, delivery in block order,
// and the accounting that gives every block ID the camera sent one fate:
// delivered, dropped for want of a free slot (underrun), or lost.
#include <algorithm>
#include <mutex>

#include "Clock.h"
#include "GevLog.h"
#include "StreamReceiver.h"

namespace Vantor {

// ---- Slots -----------------------------------------------------------------

GevBufferDescriptor* StreamReceiver::TakeFreeSlot(uint64_t blockId) {
    AssemblyState& assembly = m_state.assembly;
    GevBufferDescriptor* slot = m_state.queued.TakeHead();
    if (slot != nullptr) {
        if (assembly.underrunRun > 1)
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -%d blocks dropped: no buffer was available\n",
                      assembly.underrunRun);
        assembly.underrunRun = 0;
        return slot;
    }
    // Logged once per run: while the consumer holds every buffer, each block would.
    if (assembly.underrunRun++ == 0)
        DeviceLog(m_handle, kLogWarning,
                  "[WARNING] -There is no buffer available in the queue to store the data. "
                  "(QueuedList: %d, DeliverList: %d)\n\n",
                  m_state.queued.Count(), m_state.delivered.Count());
    AccountDropped(blockId);
    return nullptr;
}

// ---- Finishing -------------------------------------------------------------

void StreamReceiver::Deliver(GevBufferDescriptor* block) {
    if (block->resendRequested != 0 || block->resendReceived != 0)
        DeviceLog(m_handle, kLogInfo,
                  "[INFO] -Packet resend [BlockID %lld] -> requested: %d, received: %d packets\n",
                  block->blockId, block->resendRequested, block->resendReceived);
    if (block->countKnown) {
        RecountMissing(block);
    } else if (block->ownOffsets && block->dataSize != 0 &&
               block->bytesReceived >= block->dataSize) {
        // Packets that say where they go, and every byte the leader announced is
        // here: whole, whether or not the trailer came.
        block->missingPackets = 0;
    } else {
        // Where the block ends was never told (no trailer): whatever arrived, the
        // consumer cannot know the data is whole. The gaps below the last packet
        // received are missing, and at least its end.
        uint32_t last = 0, gaps = 0;
        for (uint32_t i = 0; i < block->packetMap.size(); ++i)
            if (block->packetMap[i] == kPacketReceived || block->packetMap[i] == kPacketShort)
                last = i + 1;
        for (uint32_t i = 0; i + 1 < last; ++i)
            if (block->packetMap[i] != kPacketReceived) ++gaps;
        block->missingPackets = gaps + 1;
    }
    if (!block->leaderSeen) {
        // Its data may be whole, but nothing says what it is: the consumer must know.
        if (block->countKnown) ++block->missingPackets;
        // Lost with its trailer too: it is of the stream's type, as far as anyone knows.
        if (block->payloadType == 0) block->payloadType = m_state.assembly.lastPayloadType;
    }
    if (block->missingPackets != 0 || block->overflow) {
        block->status = kBlockIncomplete;
        m_state.statistics.lostPackets += block->missingPackets;
    } else {
        block->status = kBlockComplete;
    }
    block->finished = true;
    m_state.assembly.held.push_back(block);
    ReleaseHeld();
}

void StreamReceiver::ReleaseHeld() {
    AssemblyState& assembly = m_state.assembly;
    while (!assembly.held.empty()) {
        const uint64_t front = assembly.nextBlockId;
        auto oldest =
            std::min_element(assembly.held.begin(), assembly.held.end(),
                             [&](const GevBufferDescriptor* a, const GevBufferDescriptor* b) {
                                 return Distance(front, a->blockId) < Distance(front, b->blockId);
                             });
        const uint64_t distance = Distance(front, (*oldest)->blockId);
        // A block still open before it keeps it back: frame IDs only rise.
        for (const GevBufferDescriptor* open :
             {assembly.early, assembly.current, assembly.previous})
            if (open != nullptr && !open->finished && Distance(front, open->blockId) < distance)
                return;
        GevBufferDescriptor* block = *oldest;
        assembly.held.erase(oldest);
        HandOut(block);
    }
}

void StreamReceiver::HandOut(GevBufferDescriptor* block) {
    StreamStatistics& statistics = m_state.statistics;
    if (!AccountDelivered(block->blockId)) {
        // Its ID went by as lost before it came: taking it now would move the
        // frame IDs back. It stays counted as lost.
        DeviceLog(m_handle, kLogTrace, "Late block %lld dropped\n", block->blockId);
        --statistics.framesStarted;
        m_state.queued.Append(block);
        return;
    }
    ++statistics.frameCount;
    ++statistics.deliveredFrames;
    DeviceLog(m_handle, kLogTrace, "Enqueueing image #%d ...\n", block->blockId);
    m_state.delivered.Append(block);
    DeviceLog(m_handle, kLogTrace, "Image #%d enqueued. Updating fps.\n", block->blockId);
    m_state.meter.Update(Platform::PerformanceCounter());
    {
        std::lock_guard<std::mutex> guard(m_state.imageLock);
        m_state.imageSignalled = true;
    }
    m_state.imageArrived.notify_all();
}

void StreamReceiver::FlushOnSilence() {
    AssemblyState& assembly = m_state.assembly;
    // Oldest first, so that nothing waits behind a block that is going anyway.
    for (GevBufferDescriptor** open : {&assembly.previous, &assembly.current, &assembly.early}) {
        if (*open == nullptr) continue;
        GevBufferDescriptor* block = *open;
        *open = nullptr;
        Deliver(block);
    }
    ReleaseHeld();
}

void StreamReceiver::FlushAtEnd() {
    AssemblyState& assembly = m_state.assembly;
    if (assembly.previous != nullptr) {
        DeviceLog(m_handle, kLogInfo, "[INFO] -Late delivery for previous buffer\n");
        GevBufferDescriptor* block = assembly.previous;
        assembly.previous = nullptr;
        Deliver(block);
    }
    if (assembly.current != nullptr) {
        DeviceLog(m_handle, kLogInfo, "[INFO] -Late delivery for image buffer\n");
        GevBufferDescriptor* block = assembly.current;
        assembly.current = nullptr;
        Deliver(block);
    }
    if (assembly.early != nullptr) {
        GevBufferDescriptor* block = assembly.early;
        assembly.early = nullptr;
        Deliver(block);
    }
    ReleaseHeld();
}

// ---- Accounting ------------------------------------------------------------

uint64_t StreamReceiver::Successor(uint64_t id) const {
    const uint64_t next = (id + 1) & m_state.assembly.blockIdMask;
    return next == 0 ? 1 : next;  // block ID 0 is never used
}

uint64_t StreamReceiver::Distance(uint64_t from, uint64_t to) const {
    if (m_state.assembly.blockIdMode == BlockIdMode::Extended) return to - from;
    // 16-bit IDs run 1..0xFFFF: 65535 places, 0 standing for 0xFFFF's place.
    constexpr uint64_t kPlaces = 0xFFFF;
    const uint64_t a = (from + kPlaces - 1) % kPlaces, b = (to + kPlaces - 1) % kPlaces;
    return (b + kPlaces - a) % kPlaces;
}

bool StreamReceiver::IsBehind(uint64_t distance) const {
    const uint64_t half =
        m_state.assembly.blockIdMode == BlockIdMode::Extended ? (~uint64_t{0} >> 1) : 0xFFFF / 2;
    return distance > half;
}

bool StreamReceiver::AlreadyAccounted(uint64_t id) const {
    const AssemblyState& assembly = m_state.assembly;
    if (!assembly.accounting) return false;
    const auto& dropped = assembly.dropped;
    if (std::find(dropped.begin(), dropped.end(), id) != dropped.end()) return true;
    return IsBehind(Distance(assembly.nextBlockId, id)) && !IsRestart(id);
}

bool StreamReceiver::IsRestart(uint64_t id) const {
    // Block 1 behind the accounting is a camera that started its IDs over, unless it
    // is a late or repeated packet of the block 1 just gone: that comes at once, and
    // close behind. A camera restarting takes its time, or had sent many blocks.
    const AssemblyState& assembly = m_state.assembly;
    if (id != 1 || !assembly.accounting) return false;
    constexpr uint64_t kCloseBehind = 64;
    const uint64_t behind = Distance(id, assembly.nextBlockId);
    return behind > kCloseBehind ||
           m_now() - assembly.lastAccountTick >= AssemblyState::kAskedLeaderWindowMs;
}

void StreamReceiver::StartAccounting(uint64_t id) {
    AssemblyState& assembly = m_state.assembly;
    if (assembly.accounting) return;
    assembly.accounting = true;
    assembly.nextBlockId = id;
    DeviceLog(m_handle, kLogTrace, "Setting up BlockIDCheck: %lld\n", id);
}

bool StreamReceiver::AccountDelivered(uint64_t id) {
    AssemblyState& assembly = m_state.assembly;
    StreamStatistics& statistics = m_state.statistics;
    StartAccounting(id);
    const uint64_t expected = assembly.nextBlockId;
    const uint64_t distance = Distance(expected, id);
    if (distance == 0) {
        DeviceLog(m_handle, kLogTrace, "BlockIDCheck ok: %lld\n", id);
    } else if (IsBehind(distance)) {
        if (!IsRestart(id)) return false;
        // The camera started its IDs over: counting starts over with them.
        assembly.dropped.clear();
    } else {
        // The IDs in between were never seen, unless they were dropped for want of a slot.
        auto& dropped = assembly.dropped;
        const auto inGap = std::remove_if(dropped.begin(), dropped.end(), [&](uint64_t other) {
            return Distance(expected, other) < distance;
        });
        const uint64_t gap = distance - static_cast<uint64_t>(dropped.end() - inGap);
        dropped.erase(inGap, dropped.end());
        if (gap != 0) {
            statistics.frameCount += gap;
            statistics.missingFrames += gap;
            statistics.lostFrames += gap;
            statistics.lostPackets += m_state.settings.packetsPerBlock * gap;
            if (gap >= 2)
                DeviceLog(m_handle, kLogError, "[ERROR] -Missing frames: %lld -> %lld\n", expected,
                          id - 1);
            else
                DeviceLog(m_handle, kLogError, "[ERROR] -Missing frame: %lld\n", expected);
        }
    }
    if (assembly.blockIdMode == BlockIdMode::Extended && assembly.currentBlockId > expected)
        assembly.discardBase = expected;
    assembly.nextBlockId = Successor(id);
    assembly.lastAccountTick = m_now();
    AbsorbDropped();
    return true;
}

void StreamReceiver::AccountDropped(uint64_t id) {
    AssemblyState& assembly = m_state.assembly;
    StartAccounting(id);
    if (AlreadyAccounted(id)) return;
    ++m_state.statistics.underrunFrames;
    assembly.lastAccountTick = m_now();
    if (id == assembly.nextBlockId) {
        assembly.nextBlockId = Successor(id);
        AbsorbDropped();
        return;
    }
    // An older block is still open: the drop is settled when accounting passes it.
    assembly.dropped.push_back(id);
}

void StreamReceiver::AbsorbDropped() {
    AssemblyState& assembly = m_state.assembly;
    auto& dropped = assembly.dropped;
    for (auto it = std::find(dropped.begin(), dropped.end(), assembly.nextBlockId);
         it != dropped.end();
         it = std::find(dropped.begin(), dropped.end(), assembly.nextBlockId)) {
        dropped.erase(it);
        assembly.nextBlockId = Successor(assembly.nextBlockId);
    }
}

}  // namespace Vantor
