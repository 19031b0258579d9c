// One GVCP command and its acknowledge on a device's control socket: send,
// wait, skip stale acknowledges, honour PENDING_ACK, retry on silence.
// Callers hold the slot's control lock for the whole exchange.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DeviceTable.h"

namespace Vantor {

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
    bool anyReceived = false;  // some datagram arrived during the exchange
    size_t received = 0;       // size of the accepted acknowledge
};

ExchangeResult RunExchange(DeviceSlot& slot, const ExchangeRequest& request, uint8_t* ack);

}  // namespace Vantor
