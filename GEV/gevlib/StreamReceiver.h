// Block assembly of one device's stream: the packet handler that the receive
// thread feeds with GVSP datagrams, which fills ring slots, asks for lost
// packets again and hands finished blocks to the deliver list, in block order,
// accounting for every block ID the camera sent. Free of sockets and threads,
// so tests feed it datagrams directly.
// Thread-bound: one receive thread (or one test) drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "GvspPackets.h"
#include "StreamContext.h"

namespace Vantor {

class StreamReceiver {
public:
    // Sends PACKETRESEND for [first, last] of `blockId`; false when the send failed.
    using ResendSender =
        std::function<bool(uint64_t blockId, uint32_t first, uint32_t last, bool extended)>;

    // Milliseconds of a monotonic clock that may wrap; the system's tick count
    // unless a test drives the time.
    using TickSource = std::function<uint32_t()>;

    StreamReceiver(uint8_t handle, StreamState& state, ResendSender resend, TickSource now = {});

    // One datagram from the stream socket.
    void HandlePacket(const uint8_t* data, size_t size);
    // The stream went quiet for a packet time-out: open blocks go out as they are.
    void FlushOnSilence();
    // The receive thread is leaving: every open block goes out as it is.
    void FlushAtEnd();

    // Finishes a block: its status is settled and it goes to the deliver list
    // (statistics, block-ID accounting, fps) once no older block is still open.
    void Deliver(GevBufferDescriptor* block);
    // A free slot from the queued list for `blockId`, or null: the block is then
    // dropped and counted as an underrun (the first of a run is logged).
    GevBufferDescriptor* TakeFreeSlot(uint64_t blockId);

private:
    // Where a data packet's bytes go: `declared` bytes at `offset` of the block,
    // of which `length` are present in the datagram from `from` on.
    struct PacketPlace {
        uint64_t offset = 0;
        size_t from = 0;
        size_t length = 0;
        uint64_t declared = 0;
        bool ownOffset = false;  // multi-part and GenDC packets say where they go
        bool inPart = false;     // multi-part: `offset` counts from the start of `part`
        uint8_t part = 0;
    };

    void OnLeader(const uint8_t* data, size_t size, const Gvsp::Header& header);
    void OnTrailer(const uint8_t* data, size_t size, const Gvsp::Header& header);
    void OnPayload(const uint8_t* data, size_t size, const Gvsp::Header& header);
    bool LocatePacket(const uint8_t* data, size_t size, const Gvsp::Header& header,
                      PacketPlace* place) const;
    // The open block of the packet's ID, or a new early block when the packet
    // follows the newest block and its leader was lost; null otherwise.
    GevBufferDescriptor* FindOrOpenBlock(const Gvsp::Header& header);
    void RequestGap(GevBufferDescriptor* block, uint32_t packetId);
    // Delivers a block that has its leader, trailer and every packet; true when it went.
    bool FinishIfWhole(GevBufferDescriptor* block);
    void StorePacket(GevBufferDescriptor* block, uint32_t packetId, const uint8_t* data,
                     const PacketPlace& place, const Gvsp::Header& header);
    // Bytes a full data packet `packetId` of the block carries; 0 when unknown.
    uint64_t ExpectedLength(const GevBufferDescriptor& block, uint32_t packetId) const;

    void StartBlock(GevBufferDescriptor* block, uint64_t blockId);
    void FillFromLeader(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                        const Gvsp::Header& header);
    void FillImageGeometry(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                           const Gvsp::Header& header, uint16_t type);
    // The block carries only the packets `bytes` of data need.
    void ExpectBytes(GevBufferDescriptor* block, uint64_t bytes);
    // Sets the number of data packets the block carries and counts what it misses.
    void SetPacketCount(GevBufferDescriptor* block, uint32_t count);
    void RecountMissing(GevBufferDescriptor* block);
    void ScanForResends(GevBufferDescriptor* block);
    // Asks for the leader of a block that has none; true when it is awaited.
    bool RequestLostLeader(GevBufferDescriptor* block);
    void ApplyTrailer(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                      const Gvsp::Header& header);
    bool RequestResend(GevBufferDescriptor* block, uint32_t first, uint32_t last);
    // A leader that repeats one already taken, or answers a request for a block
    // that went out meanwhile: it must neither restart the block nor move the
    // current block ID back.
    bool IsStaleLeader(uint64_t id, const Gvsp::Header& header) const;
    // The newest block ID seen, which the payload of a block that lost its
    // leader must follow: it moves forward only (modulo the ID width), so an
    // answer for an older block does not take it back.
    void AdvanceCurrentBlockId(uint64_t id);

    // ---- Delivery order and accounting (BlockDelivery.cpp)
    uint64_t Successor(uint64_t id) const;
    // Steps from `from` forward to `to` in the camera's ID space (16-bit IDs skip 0).
    uint64_t Distance(uint64_t from, uint64_t to) const;
    bool IsBehind(uint64_t distance) const;
    // Block 1 after others: a camera that started its IDs over, not a late packet.
    bool IsRestart(uint64_t id) const;
    // True for a block ID already accounted for (delivered, dropped or counted
    // lost) that is not a camera starting its IDs over: such a block is not taken.
    bool AlreadyAccounted(uint64_t id) const;
    void StartAccounting(uint64_t id);
    // Moves the accounting past `id`, counting the IDs skipped as lost; false for
    // a block that comes after its ID was passed.
    bool AccountDelivered(uint64_t id);
    void AccountDropped(uint64_t id);
    void AbsorbDropped();
    void ReleaseHeld();
    void HandOut(GevBufferDescriptor* block);

    const uint8_t m_handle;
    StreamState& m_state;
    ResendSender m_resend;
    TickSource m_now;
};

}  // namespace Vantor
