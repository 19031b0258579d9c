// The library's UDP socket utility and its socket-subsystem start rule.
#pragma once

#include <cstdint>

#include "Socket.h"

namespace Vantor {

// Opens a datagram socket bound to (address, port); port 0 lets the system
// choose. Returns the invalid socket when any step fails.
Platform::SocketHandle OpenUdpSocket(uint32_t address, uint16_t port, bool broadcast,
                                     bool reuseAddress, bool largeReceiveBuffer);
// Shuts down the sending direction, then closes.
void CloseUdpSocket(Platform::SocketHandle socket);

// Starts the socket subsystem; on failure shows "Can't init Winsock" and
// returns false (callers decide whether to go on).
bool StartSocketsOrWarn();

}  // namespace Vantor
