#include "Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace Platform {
namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    return target;
}

bool SetFlag(SocketHandle socket, int option, bool on) {
    int value = on ? 1 : 0;
    return setsockopt(socket, SOL_SOCKET, option, &value, sizeof value) == 0;
}

}  // namespace

bool StartSockets() {
    return true;
}
void StopSockets() {}

SocketHandle CreateUdpSocket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kInvalidSocket) ::close(socket);
}

void ShutdownSend(SocketHandle socket) {
    if (socket != kInvalidSocket) ::shutdown(socket, SHUT_WR);
}

bool SetReuseAddress(SocketHandle socket, bool on) {
    return SetFlag(socket, SO_REUSEADDR, on);
}
bool SetBroadcast(SocketHandle socket, bool on) {
    return SetFlag(socket, SO_BROADCAST, on);
}

size_t SetReceiveBufferSize(SocketHandle socket, size_t bytes) {
    int value = static_cast<int>(bytes);
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &value, sizeof value) != 0) return 0;
    // Linux caps SO_RCVBUF at net.core.rmem_max; a privileged process may go past it.
    setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &value, sizeof value);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) return 0;
    // Linux books twice the size for its own bookkeeping and reports that.
    return std::min(static_cast<size_t>(granted) / 2, bytes);
}

bool Bind(SocketHandle socket, uint32_t address, uint16_t port) {
    sockaddr_in local = MakeAddress(address, port);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

uint16_t BoundPort(SocketHandle socket) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

int SendTo(SocketHandle socket, const void* data, size_t size, uint32_t address, uint16_t port) {
    sockaddr_in target = MakeAddress(address, port);
    ssize_t sent = ::sendto(socket, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target),
                            sizeof target);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int ReceiveFrom(SocketHandle socket, void* buffer, size_t capacity, uint32_t* address,
                uint16_t* port) {
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t received =
        ::recvfrom(socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (received < 0) return -1;
    if (address != nullptr) *address = sender.sin_addr.s_addr;
    if (port != nullptr) *port = ntohs(sender.sin_port);
    return static_cast<int>(received);
}

int WaitReadable(SocketHandle socket, uint32_t seconds, uint32_t microseconds) {
    // poll rather than select: a host process may hold more descriptors than an fd_set.
    pollfd entry{socket, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) +
                    std::chrono::microseconds(microseconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        int waitMs = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
        int ready = ::poll(&entry, 1, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (ready == 0) return 0;
        if (entry.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        return 1;
    }
}

bool JoinMulticastGroup(SocketHandle socket, uint32_t group, uint32_t interfaceAddress) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_interface.s_addr = interfaceAddress;
    return setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

int LastSocketError() {
    return errno;
}

uint32_t HostToNetwork32(uint32_t value) {
    return htonl(value);
}
uint32_t NetworkToHost32(uint32_t value) {
    return ntohl(value);
}
uint16_t HostToNetwork16(uint16_t value) {
    return htons(value);
}
uint16_t NetworkToHost16(uint16_t value) {
    return ntohs(value);
}

const char* AddressText(uint32_t address, char (&text)[16]) {
    const auto* octet = reinterpret_cast<const uint8_t*>(&address);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", octet[0], octet[1], octet[2], octet[3]);
    return text;
}

uint32_t ParseAddress(const char* text) {
    in_addr parsed{};
    return inet_pton(AF_INET, text, &parsed) == 1 ? parsed.s_addr : 0;
}

}  // namespace Platform
