// Small helpers of the socket tests: a plain UDP socket bound where the test
// says, datagrams sent from it, and bounded waiting for a condition.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace TestSockets {

// Binds `socket` (made by the caller, maybe in another namespace) to a dotted
// address and port; with `reuse`, several sockets may share the port.
inline bool Bind(int socket, const char* address, uint16_t port, bool reuse = false) {
    int on = 1;
    if (reuse) ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address, &local.sin_addr);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

inline void SendTo(int socket, const std::vector<uint8_t>& bytes, uint32_t address, uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    ::sendto(socket, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target);
}

// True when a datagram is waiting within `milliseconds`.
inline bool Readable(int socket, int milliseconds) {
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, milliseconds) == 1;
}

// Polls `condition` for at most `limit`; the loops of the tests stop by themselves.
template <class Condition>
bool WaitFor(Condition condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

}  // namespace TestSockets
