#include "ControlPrivilege.h"

#include "Bootstrap.h"
#include "GvcpWire.h"

namespace GevSim {

namespace {
constexpr uint32_t kPrivilegeBits = Bootstrap::kCcpExclusive | Bootstrap::kCcpControl;
constexpr uint32_t kStoredBits = kPrivilegeBits | Bootstrap::kCcpSwitchoverEnable;
}  // namespace

bool ControlPrivilege::MayRead(const Host& host) const {
    return !primary_ || *primary_ == host || (ccp_ & Bootstrap::kCcpExclusive) == 0;
}

bool ControlPrivilege::MayWrite(const Host& host) const {
    return !primary_ || *primary_ == host;
}

uint16_t ControlPrivilege::Write(const Host& host, uint32_t value, Clock::time_point now) {
    if (primary_ && !(*primary_ == host)) return Gvcp::kStatusAccessDenied;
    if ((value & kPrivilegeBits) == 0) {
        Release();
        return Gvcp::kStatusSuccess;
    }
    primary_ = host;
    ccp_ = value & kStoredBits;
    lastHeard_ = now;
    return Gvcp::kStatusSuccess;
}

void ControlPrivilege::Heartbeat(const Host& host, Clock::time_point now) {
    if (IsPrimary(host)) lastHeard_ = now;
}

bool ControlPrivilege::Expired(Clock::time_point now, std::chrono::milliseconds timeout) const {
    return primary_ && now - lastHeard_ > timeout;
}

void ControlPrivilege::Release() {
    primary_.reset();
    ccp_ = 0;
}

}  // namespace GevSim
