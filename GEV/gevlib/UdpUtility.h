// The library's UDP socket utility and its socket-subsystem start rule.
#pragma once

#include <cstdint>

#include "Socket.h"

namespace Vantor {

constexpr size_t kLargeReceiveBuffer = 1048576;

// Opens a datagram socket bound to (address, port); port 0 lets the system
// choose. Returns the invalid socket when any step fails. A large receive
// buffer is asked for and, where the system caps it lower, kept as granted:
// `granted` (when given) tells the size, so the caller can warn.
Platform::SocketHandle OpenUdpSocket(uint32_t address, uint16_t port, bool broadcast,
                                     bool reuseAddress, bool largeReceiveBuffer,
                                     size_t* granted = nullptr);
// Shuts down the sending direction, then closes.
void CloseUdpSocket(Platform::SocketHandle socket);

// Starts the socket subsystem; on failure shows "Can't init Winsock" and
// returns false (callers decide whether to go on).
bool StartSocketsOrWarn();

}  // namespace Vantor
