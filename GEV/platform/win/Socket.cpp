#include "Socket.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
// clang-format on

#include <algorithm>
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
    BOOL value = on ? TRUE : FALSE;
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

}  // namespace

bool StartSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopSockets() {
    WSACleanup();
}

SocketHandle CreateUdpSocket() {
    SOCKET created = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (created == INVALID_SOCKET) return kInvalidSocket;
    // A port-unreachable answer to an earlier datagram must not fail the
    // next receive on a UDP socket, as Windows does by default.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(created, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
    return created;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kInvalidSocket) ::closesocket(socket);
}

void ShutdownSend(SocketHandle socket) {
    if (socket != kInvalidSocket) ::shutdown(socket, SD_SEND);
}

bool SetReuseAddress(SocketHandle socket, bool on) {
    return SetFlag(socket, SO_REUSEADDR, on);
}
bool SetBroadcast(SocketHandle socket, bool on) {
    return SetFlag(socket, SO_BROADCAST, on);
}

size_t SetReceiveBufferSize(SocketHandle socket, size_t bytes) {
    int value = static_cast<int>(bytes);
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0)
        return 0;
    int granted = 0;
    int length = sizeof granted;
    if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length) != 0)
        return 0;
    return std::min(static_cast<size_t>(granted), bytes);
}

bool Bind(SocketHandle socket, uint32_t address, uint16_t port) {
    sockaddr_in local = MakeAddress(address, port);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

uint16_t BoundPort(SocketHandle socket) {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

int SendTo(SocketHandle socket, const void* data, size_t size, uint32_t address, uint16_t port) {
    sockaddr_in target = MakeAddress(address, port);
    int sent = ::sendto(socket, static_cast<const char*>(data), static_cast<int>(size), 0,
                        reinterpret_cast<sockaddr*>(&target), sizeof target);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int ReceiveFrom(SocketHandle socket, void* buffer, size_t capacity, uint32_t* address,
                uint16_t* port) {
    sockaddr_in sender{};
    int length = sizeof sender;
    int received = ::recvfrom(socket, static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                              reinterpret_cast<sockaddr*>(&sender), &length);
    // A datagram larger than the buffer arrives cut, as on other systems.
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE)
        received = static_cast<int>(capacity);
    if (received == SOCKET_ERROR) return -1;
    if (address != nullptr) *address = sender.sin_addr.s_addr;
    if (port != nullptr) *port = ntohs(sender.sin_port);
    return received;
}

int WaitReadable(SocketHandle socket, uint32_t seconds, uint32_t microseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(seconds + microseconds / 1000000);
    timeout.tv_usec = static_cast<long>(microseconds % 1000000);
    int ready = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) return -1;
    return ready > 0 ? 1 : 0;
}

bool JoinMulticastGroup(SocketHandle socket, uint32_t group, uint32_t interfaceAddress) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_interface.s_addr = interfaceAddress;
    return setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

int LastSocketError() {
    return WSAGetLastError();
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
