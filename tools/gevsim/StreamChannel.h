// Stream channel 0 of the camera. Today only its source socket exists, so that SCSP0
// names a real port; GVSP sending (driven by SCP0/SCDA0/SCPS0/SCPD0) will live here.
// Thread-safe: a mutex guards the socket.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "UdpSocket.h"

namespace GevSim {

class StreamChannel {
public:
    explicit StreamChannel(std::string netns) : netns_(std::move(netns)) {}

    // Binds a fresh socket to ip:0 (again after FORCEIP); returns false on failure.
    bool Open(uint32_t ip, std::string* error);
    void Close();
    uint16_t SourcePort() const;

private:
    const std::string netns_;
    mutable std::mutex mutex_;
    UdpSocket socket_;
};

}  // namespace GevSim
