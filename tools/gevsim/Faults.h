// Misbehaviours a test switches on at run time; the GVCP server consults them for
// every command that is to be acknowledged, the stream thread those of Stream().
// Every member is safe from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "StreamFaults.h"

namespace GevSim {

class Faults {
public:
    using Milliseconds = std::chrono::milliseconds;

    // The counted faults below take only commands whose first address is `address`,
    // when given: a test aims them past the heartbeat's own reads.

    // The next `count` acknowledges are not sent; the commands still take effect.
    void DropAcks(uint32_t count, std::optional<uint32_t> address = std::nullopt);
    // "Unplugged": every datagram is ignored, discovery included, until switched off.
    void SetSilent(bool silent);
    // Every acknowledge is sent `delay` late.
    void SetAckDelay(Milliseconds delay);
    // The next `count` READREG/WRITEREG/READMEM/WRITEMEM are answered first by a
    // PENDING_ACK announcing `completion`, then by the real acknowledge after it.
    void SendPendingAcks(uint32_t count, Milliseconds completion,
                         std::optional<uint32_t> address = std::nullopt);
    // The next `count` acknowledges are preceded by a stale one: same code, ack id
    // `ackId`, or the request id - 1 when none is given.
    void SendStaleAcks(uint32_t count, std::optional<uint16_t> ackId = std::nullopt,
                       std::optional<uint32_t> address = std::nullopt);
    // The next `count` commands are not executed and answered with `status` and no
    // payload.
    void FailCommands(uint32_t count, uint16_t status,
                      std::optional<uint32_t> address = std::nullopt);
    // Every DISCOVERY_ACK is sent twice.
    void SetDuplicateDiscoveryAcks(bool duplicate);
    // DISCOVERY_ACKs are cut or zero-padded to `length` bytes (header length field
    // adjusted); 0 restores the normal 256 bytes.
    void SetDiscoveryAckLength(size_t length);
    // One-register READREGs of `address` are answered with these values in turn,
    // the last one for good, whatever the register holds: a camera whose size
    // registers lie or move while they are read.
    void ScriptRegisterReads(uint32_t address, std::vector<uint32_t> values);
    // Everything back to normal, the stream included.
    void Clear();
    // Faults of the GVSP stream.
    StreamFaults& Stream() { return stream_; }

    bool Silent() const;

    // What to do with one acknowledge; taking it consumes the counts that apply.
    struct Plan {
        std::optional<uint16_t> failStatus;
        bool drop = false;
        Milliseconds delay{0};
        std::optional<Milliseconds> pending;
        std::optional<uint16_t> staleAckId;
        bool duplicate = false;
        size_t discoveryLength = 0;             // 0: normal
        std::optional<uint32_t> registerValue;  // the scripted answer of a READREG
    };
    Plan Take(uint16_t command, uint16_t requestId, std::optional<uint32_t> address);

private:
    mutable std::mutex mutex_;
    uint32_t dropCount_ = 0;
    std::optional<uint32_t> dropAddress_;
    bool silent_ = false;
    Milliseconds delay_{0};
    uint32_t pendingCount_ = 0;
    Milliseconds pendingTime_{0};
    std::optional<uint32_t> pendingAddress_;
    uint32_t staleCount_ = 0;
    std::optional<uint16_t> staleId_;
    std::optional<uint32_t> staleAddress_;
    uint32_t failCount_ = 0;
    uint16_t failStatus_ = 0;
    std::optional<uint32_t> failAddress_;
    bool duplicateDiscovery_ = false;
    size_t discoveryLength_ = 0;
    std::map<uint32_t, std::vector<uint32_t>> scriptedReads_;  // by address, next value first
    StreamFaults stream_;
};

}  // namespace GevSim
