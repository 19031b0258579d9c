#include "Faults.h"

#include "GvcpWire.h"

namespace GevSim {

namespace {

// A counted fault aimed at `aimed` takes only commands whose first address it is.
bool Aimed(const std::optional<uint32_t>& aimed, const std::optional<uint32_t>& address) {
    return !aimed || aimed == address;
}

}  // namespace

void Faults::DropAcks(uint32_t count, std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> lock(mutex_);
    dropCount_ = count;
    dropAddress_ = address;
}

void Faults::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
}

void Faults::SetAckDelay(Milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
}

void Faults::SendPendingAcks(uint32_t count, Milliseconds completion,
                             std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingCount_ = count;
    pendingTime_ = completion;
    pendingAddress_ = address;
}

void Faults::SendStaleAcks(uint32_t count, std::optional<uint16_t> ackId,
                           std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> lock(mutex_);
    staleCount_ = count;
    staleId_ = ackId;
    staleAddress_ = address;
}

void Faults::FailCommands(uint32_t count, uint16_t status, std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> lock(mutex_);
    failCount_ = count;
    failStatus_ = status;
    failAddress_ = address;
}

void Faults::SetDuplicateDiscoveryAcks(bool duplicate) {
    std::lock_guard<std::mutex> lock(mutex_);
    duplicateDiscovery_ = duplicate;
}

void Faults::SetDiscoveryAckLength(size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    discoveryLength_ = length;
}

void Faults::ScriptRegisterReads(uint32_t address, std::vector<uint32_t> values) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (values.empty())
        scriptedReads_.erase(address);
    else
        scriptedReads_[address] = std::move(values);
}

void Faults::Clear() {
    stream_.Clear();
    std::lock_guard<std::mutex> lock(mutex_);
    dropCount_ = pendingCount_ = staleCount_ = failCount_ = 0;
    dropAddress_ = pendingAddress_ = staleAddress_ = failAddress_ = std::nullopt;
    silent_ = duplicateDiscovery_ = false;
    delay_ = Milliseconds(0);
    discoveryLength_ = 0;
    scriptedReads_.clear();
}

bool Faults::Silent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return silent_;
}

Faults::Plan Faults::Take(uint16_t command, uint16_t requestId, std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Plan plan;
    plan.delay = delay_;
    if (failCount_ > 0 && Aimed(failAddress_, address)) {
        --failCount_;
        plan.failStatus = failStatus_;
    }
    if (dropCount_ > 0 && Aimed(dropAddress_, address)) {
        --dropCount_;
        plan.drop = true;
        return plan;  // nothing is sent, so no other count is used up
    }
    const bool memoryAccess = command == Gvcp::kReadRegCmd || command == Gvcp::kWriteRegCmd ||
                              command == Gvcp::kReadMemCmd || command == Gvcp::kWriteMemCmd;
    if (pendingCount_ > 0 && memoryAccess && Aimed(pendingAddress_, address)) {
        --pendingCount_;
        plan.pending = pendingTime_;
    }
    if (staleCount_ > 0 && Aimed(staleAddress_, address)) {
        --staleCount_;
        // Request ids skip 0, so the one before 1 is 0xFFFF.
        plan.staleAckId = staleId_ ? *staleId_ : (requestId == 1 ? 0xFFFF : requestId - 1);
    }
    if (command == Gvcp::kReadRegCmd && address) {
        auto script = scriptedReads_.find(*address);
        if (script != scriptedReads_.end()) {
            std::vector<uint32_t>& values = script->second;
            plan.registerValue = values.front();
            if (values.size() > 1) values.erase(values.begin());
        }
    }
    if (command == Gvcp::kDiscoveryCmd) {
        plan.duplicate = duplicateDiscovery_;
        plan.discoveryLength = discoveryLength_;
    }
    return plan;
}

}  // namespace GevSim
