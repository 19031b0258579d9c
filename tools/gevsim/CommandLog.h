// Record of every well-formed GVCP command the camera received, for tests to check
// what a host sent and when. Safe from any thread; keeps the newest kCapacity entries.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace GevSim {

struct ReceivedCommand {
    uint16_t command = 0;
    uint8_t flags = 0;
    uint16_t requestId = 0;
    uint16_t length = 0;              // payload length from the header
    std::optional<uint32_t> address;  // first register or memory address, if any
    std::chrono::steady_clock::time_point time;
    std::string senderAddress;  // dotted IPv4
    uint16_t senderPort = 0;
    bool broadcast = false;  // arrived on the broadcast socket
};

class CommandLog {
public:
    static constexpr size_t kCapacity = 10000;

    void Add(ReceivedCommand command);
    std::vector<ReceivedCommand> Snapshot() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<ReceivedCommand> entries_;
};

}  // namespace GevSim
