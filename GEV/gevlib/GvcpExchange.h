// One GVCP command and its acknowledge on a device's control socket: send,
// wait, skip stale acknowledges, honour PENDING_ACK, retry on silence.
// Callers hold the slot's control lock for the whole exchange.
//
// A broken or hostile peer must not hold a caller: only datagrams from the
// camera's address and GVCP port count, nothing restarts a wait, and the whole
// exchange ends by a fixed time (PENDING_ACKs may extend it, up to a cap).
#pragma once

#include <cstddef>
#include <cstdint>

#include "DeviceTable.h"
#include "GvcpPackets.h"

namespace Vantor {

// The most that PENDING_ACKs may add to one exchange, in all.
constexpr uint32_t kMaxPendingExtensionMs = 5000;

// What one received datagram means to the exchange waiting for `requestId`.
enum class AckVerdict {
    kForeign,     // not from the camera, or not an acknowledge: ignored
    kStale,       // an acknowledge of another request: ignored
    kPending,     // PENDING_ACK: wait longer
    kStatus,      // the camera answered with a status: the exchange ends with it
    kUnexpected,  // our id with a wrong acknowledge code
    kAccepted,
};
AckVerdict JudgeAck(const uint8_t* data, size_t size, uint32_t sender, uint16_t senderPort,
                    uint32_t cameraAddress, uint16_t requestId, uint16_t expectedAck,
                    Gvcp::AckHeader* header);

// The time budget of one exchange, in milliseconds since its start (so a
// wrapping tick count does no harm). No datagram moves a deadline but a
// PENDING_ACK, and no deadline passes the exchange's end.
class ExchangeDeadline {
public:
    ExchangeDeadline(uint32_t commandTimeoutMs, uint8_t retryCount);
    // A new attempt waits `waitMs` from `elapsed`, within the exchange's end.
    void StartAttempt(uint32_t elapsed, uint32_t waitMs);
    // A PENDING_ACK announcing `ms` (0: one command timeout) at `elapsed`.
    void Pending(uint32_t elapsed, uint32_t ms);
    // Milliseconds this attempt may still wait; 0 when it is over.
    uint32_t Remaining(uint32_t elapsed) const;
    bool ExchangeOver(uint32_t elapsed) const { return elapsed >= m_end; }
    uint32_t End() const { return m_end; }

private:
    uint32_t m_commandTimeout;
    uint32_t m_regularEnd;  // retries x command timeout
    uint32_t m_end;         // with what PENDING_ACKs added
    uint32_t m_attemptEnd = 0;
};

struct ExchangeRequest {
    const uint8_t* command;
    size_t commandSize;
    uint16_t requestId;
    uint16_t expectedAck;
    size_t receiveCapacity;  // bytes of the acknowledge to read
    GevStatus receiveFailure;
    // Register commands retry a failed send after 20 ms; memory commands give up.
    bool sendFailureEnds;
    bool marksPendingAck;        // register reads tell the heartbeat to keep off
    uint32_t address;            // for the log lines
    const char* sendFailedText;  // (bytes meant, result, error)
    const char* sentText;        // level 32 (address, s, us, attempt, retries); may be null
    const char* pendingText;     // level 1 (address, ms)
};

struct ExchangeResult {
    GevStatus status = kGevTimeout;
    bool anyReceived = false;  // some datagram of the camera arrived during the exchange
    size_t received = 0;       // size of the accepted acknowledge
};

ExchangeResult RunExchange(DeviceSlot& slot, const ExchangeRequest& request, uint8_t* ack);

}  // namespace Vantor
