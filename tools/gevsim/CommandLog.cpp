#include "CommandLog.h"

namespace GevSim {

void CommandLog::Add(ReceivedCommand command) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() == kCapacity) entries_.pop_front();
    entries_.push_back(std::move(command));
}

std::vector<ReceivedCommand> CommandLog::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

void CommandLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

}  // namespace GevSim
