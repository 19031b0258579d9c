// A UDP socket owned by RAII, opened (optionally) inside a named network namespace,
// with the few operations the camera needs. Move-only; one thread uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GevSim {

// Dotted IPv4 <-> host-order integer.
bool ParseIpv4(const std::string& text, uint32_t* ip);
std::string FormatIpv4(uint32_t ip);

class UdpSocket {
public:
    struct Options {
        bool reuseAddress = false;
        bool broadcast = false;  // may send to 255.255.255.255
    };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds ip:port (host order; port 0 picks one) inside `netns` when not empty.
    // On failure returns an invalid socket and explains in `error`.
    static UdpSocket Open(const std::string& netns, uint32_t ip, uint16_t port,
                          const Options& options, std::string* error);

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    uint16_t LocalPort() const;

    bool SendTo(const uint8_t* data, size_t size, uint32_t ip, uint16_t port) const;
    // Waits up to timeoutMs for one datagram; returns its size, or -1 on timeout/error.
    long ReceiveFrom(uint8_t* buffer, size_t capacity, uint32_t* ip, uint16_t* port,
                     int timeoutMs) const;

private:
    explicit UdpSocket(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace GevSim
