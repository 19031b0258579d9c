// The camera's message channel: sends EVENT/EVENTDATA commands from its own socket
// (source port = MCSP) to MCDA:MCP and waits for their acknowledges, retrying as
// MCTT/MCRC say. Thread-safe: a mutex serializes senders and rebinding.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "DeviceModel.h"
#include "EventMessage.h"
#include "UdpSocket.h"

namespace GevSim {

class MessageChannel {
public:
    explicit MessageChannel(std::string netns) : netns_(std::move(netns)) {}

    // Binds a fresh socket to ip:0 (again after FORCEIP); returns false on failure.
    bool Open(uint32_t ip, std::string* error);
    void Close();
    // Never blocks, also while Send waits for an acknowledge.
    uint16_t SourcePort() const { return port_; }

    // True when the host acknowledged (or, without ack required, when it was sent).
    bool Send(const EventMessage& event, const DeviceModel::MessageTarget& target,
              uint32_t gvcpCapability, uint16_t* requestIdUsed);

private:
    uint16_t NextRequestId();

    const std::string netns_;
    mutable std::mutex mutex_;
    UdpSocket socket_;
    std::atomic<uint16_t> port_{0};
    uint16_t lastRequestId_ = 0;
};

}  // namespace GevSim
