// UDP sockets for the protocol library: a thin layer over the system's socket
// API, so that no other file knows whether it is POSIX sockets or Winsock.
// Addresses are IPv4 in network byte order; ports are in host order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Platform {

#if defined(_WIN32)
using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

// Socket subsystem start and stop (a no-op where the system needs none).
bool StartSockets();
void StopSockets();

SocketHandle CreateUdpSocket();
void CloseSocket(SocketHandle socket);
// Shuts down the sending direction only.
void ShutdownSend(SocketHandle socket);

bool SetReuseAddress(SocketHandle socket, bool on);
bool SetBroadcast(SocketHandle socket, bool on);
// Asks for a receive buffer of `bytes` (beyond the system's cap where the
// process may) and returns the size granted, at most `bytes` (0 on failure).
size_t SetReceiveBufferSize(SocketHandle socket, size_t bytes);

bool Bind(SocketHandle socket, uint32_t address, uint16_t port);
// The local port the socket is bound to, 0 on failure.
uint16_t BoundPort(SocketHandle socket);

// Sends one datagram; returns the bytes sent or -1.
int SendTo(SocketHandle socket, const void* data, size_t size, uint32_t address, uint16_t port);
// Receives one datagram of at most `capacity` bytes; returns its size or -1.
// The sender's address and port are stored when the pointers are not null.
int ReceiveFrom(SocketHandle socket, void* buffer, size_t capacity, uint32_t* address = nullptr,
                uint16_t* port = nullptr);

// Joins IPv4 multicast `group` on the adapter with `interfaceAddress` (both network order).
bool JoinMulticastGroup(SocketHandle socket, uint32_t group, uint32_t interfaceAddress);

// Waits until the socket is readable: 1 readable, 0 timed out, -1 failed.
int WaitReadable(SocketHandle socket, uint32_t seconds, uint32_t microseconds);
inline int WaitReadableMs(SocketHandle socket, uint32_t milliseconds) {
    return WaitReadable(socket, milliseconds / 1000, (milliseconds % 1000) * 1000);
}

// The error number of the last failed socket call on this thread.
int LastSocketError();

// Byte order and address text helpers.
uint32_t HostToNetwork32(uint32_t value);
uint32_t NetworkToHost32(uint32_t value);
uint16_t HostToNetwork16(uint16_t value);
uint16_t NetworkToHost16(uint16_t value);
// Dotted text of a network-order address, e.g. "169.254.10.2".
const char* AddressText(uint32_t address, char (&text)[16]);
// Network-order address from dotted text; 0 when it does not parse.
uint32_t ParseAddress(const char* text);

}  // namespace Platform
