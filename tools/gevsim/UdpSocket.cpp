#include "UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace GevSim {

namespace {

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

sockaddr_in Endpoint(uint32_t ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(ip);
    address.sin_port = htons(port);
    return address;
}

int OpenHere(uint32_t ip, uint16_t port, const UdpSocket::Options& options, std::string* error) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = Errno("socket");
        return -1;
    }
    const int on = 1;
    if ((options.reuseAddress && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
        (options.broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)) {
        *error = Errno("setsockopt");
        close(fd);
        return -1;
    }
    const sockaddr_in address = Endpoint(ip, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = Errno(("bind " + FormatIpv4(ip) + ":" + std::to_string(port)).c_str());
        close(fd);
        return -1;
    }
    return fd;
}

// Network namespaces belong to threads: a short-lived thread enters the namespace,
// makes the socket and ends; the socket stays in that namespace.
int OpenInNamespace(const std::string& netns, uint32_t ip, uint16_t port,
                    const UdpSocket::Options& options, std::string* error) {
    int fd = -1;
    std::thread helper([&] {
        const std::string path = "/var/run/netns/" + netns;
        const int nsFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0) {
            *error = Errno(("open " + path).c_str());
            return;
        }
        if (setns(nsFd, CLONE_NEWNET) != 0) {
            *error = Errno("setns");
            close(nsFd);
            return;
        }
        close(nsFd);
        fd = OpenHere(ip, port, options, error);
    });
    helper.join();
    return fd;
}

}  // namespace

bool ParseIpv4(const std::string& text, uint32_t* ip) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    *ip = ntohl(address.s_addr);
    return true;
}

std::string FormatIpv4(uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

UdpSocket::~UdpSocket() {
    if (fd_ >= 0) close(fd_);
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

UdpSocket UdpSocket::Open(const std::string& netns, uint32_t ip, uint16_t port,
                          const Options& options, std::string* error) {
    std::string ignored;
    std::string& message = error ? *error : ignored;
    const int fd = netns.empty() ? OpenHere(ip, port, options, &message)
                                 : OpenInNamespace(netns, ip, port, options, &message);
    return UdpSocket(fd);
}

uint16_t UdpSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

bool UdpSocket::SendTo(const uint8_t* data, size_t size, uint32_t ip, uint16_t port) const {
    const sockaddr_in address = Endpoint(ip, port);
    return sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == static_cast<ssize_t>(size);
}

long UdpSocket::ReceiveFrom(uint8_t* buffer, size_t capacity, uint32_t* ip, uint16_t* port,
                            int timeoutMs) const {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return -1;
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const ssize_t received =
        recvfrom(fd_, buffer, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), &size);
    if (received < 0) return -1;
    *ip = ntohl(address.sin_addr.s_addr);
    *port = ntohs(address.sin_port);
    return received;
}

}  // namespace GevSim
