// The control channel privilege (CCP register): which host is the primary
// application, with which access, and when it was last heard of (heartbeat).
// Not thread-safe: DeviceModel guards it with its mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace GevSim {

// A host is the sender address and port of its control requests.
struct Host {
    uint32_t ip = 0;  // host order
    uint16_t port = 0;
    bool operator==(const Host& other) const { return ip == other.ip && port == other.port; }
};

class ControlPrivilege {
public:
    using Clock = std::chrono::steady_clock;

    uint32_t Ccp() const { return ccp_; }
    bool IsPrimary(const Host& host) const { return primary_ && *primary_ == host; }
    // Another host holding exclusive access hides the whole device.
    bool MayRead(const Host& host) const;
    // Another host holding exclusive or control access keeps the device read-only.
    bool MayWrite(const Host& host) const;
    // A write of the CCP register by `host`; returns a GVCP status.
    uint16_t Write(const Host& host, uint32_t value, Clock::time_point now);
    // Any command from the primary application keeps its privilege alive.
    void Heartbeat(const Host& host, Clock::time_point now);
    bool Expired(Clock::time_point now, std::chrono::milliseconds timeout) const;
    void Release();

private:
    std::optional<Host> primary_;
    uint32_t ccp_ = 0;
    Clock::time_point lastHeard_;
};

}  // namespace GevSim
