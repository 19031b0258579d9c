// Block assembly of one device's stream: the packet handler that the receive
// thread feeds with GVSP datagrams, which fills ring slots, asks for lost
// packets again and hands finished blocks to the deliver list. Free of
// sockets and threads, so tests feed it datagrams directly.
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

    StreamReceiver(uint8_t handle, StreamState& state, ResendSender resend);

    // One datagram from the stream socket.
    void HandlePacket(const uint8_t* data, size_t size);
    // The stream went quiet for a packet time-out: open blocks go out as they are.
    void FlushOnSilence();
    // The receive thread is leaving: previous, then current; the early block is dropped.
    void FlushAtEnd();

    // Hands a finished block to the deliver list (statistics, block-ID check, fps).
    void Deliver(GevBufferDescriptor* block);
    // A free slot from the queued list, or null (logged with both list lengths).
    GevBufferDescriptor* TakeFreeSlot();

private:
    void OnLeader(const uint8_t* data, size_t size, const Gvsp::Header& header);
    void OnTrailer(const uint8_t* data, size_t size, const Gvsp::Header& header);
    void OnPayload(const uint8_t* data, size_t size, const Gvsp::Header& header);
    void StartBlock(GevBufferDescriptor* block, uint64_t blockId);
    void FillFromLeader(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                        const Gvsp::Header& header);
    void FillImageGeometry(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                           const Gvsp::Header& header, uint16_t type);
    // The block carries only the packets `bytes` of data need: the others are never sent.
    void ExpectBytes(GevBufferDescriptor* block, uint64_t bytes);
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

    const uint8_t m_handle;
    StreamState& m_state;
    ResendSender m_resend;
};

}  // namespace Vantor
