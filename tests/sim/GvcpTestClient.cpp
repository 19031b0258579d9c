#include "GvcpTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace SimTest {

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t{Be16(p)} << 16 | Be16(p + 2);
}
uint64_t Be64(const uint8_t* p) {
    return uint64_t{Be32(p)} << 32 | Be32(p + 4);
}
void PutBe16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void PutBe32(Bytes& b, uint32_t v) {
    PutBe16(b, static_cast<uint16_t>(v >> 16));
    PutBe16(b, static_cast<uint16_t>(v));
}

GvcpTestClient::GvcpTestClient(const std::string& bindAddress, std::string camera,
                               uint16_t bindPort)
    : camera_(std::move(camera)) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(bindPort);
    inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("test client cannot bind " + bindAddress);
}

GvcpTestClient::~GvcpTestClient() {
    close(fd_);
}

uint16_t GvcpTestClient::Port() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

void GvcpTestClient::SendRaw(const Bytes& datagram, const std::string& to, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, to.c_str(), &address.sin_addr);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
           sizeof address);
}

uint16_t GvcpTestClient::Send(uint16_t command, const Bytes& payload, uint8_t flags,
                              const std::string& to) {
    const uint16_t id = nextId_++;
    Bytes datagram{0x42, flags};
    PutBe16(datagram, command);
    PutBe16(datagram, static_cast<uint16_t>(payload.size()));
    PutBe16(datagram, id);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    SendRaw(datagram, to.empty() ? camera_ : to);
    return id;
}

std::optional<Datagram> GvcpTestClient::Receive(int timeoutMs) {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return std::nullopt;
    Datagram datagram;
    datagram.bytes.resize(2048);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n = recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0) return std::nullopt;
    datagram.bytes.resize(static_cast<size_t>(n));
    char text[INET_ADDRSTRLEN];
    datagram.from = inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    datagram.fromPort = ntohs(from.sin_port);
    return datagram;
}

std::optional<Datagram> GvcpTestClient::Transact(uint16_t command, const Bytes& payload,
                                                 uint8_t flags) {
    const uint16_t id = Send(command, payload, flags);
    for (int i = 0; i < 4; ++i) {
        auto reply = Receive();
        if (!reply) return std::nullopt;
        if (reply->bytes.size() >= 8 && reply->AckId() == id) return reply;
    }
    return std::nullopt;
}

uint16_t GvcpTestClient::ReadReg(uint32_t address, uint32_t* value) {
    Bytes payload;
    PutBe32(payload, address);
    auto ack = Transact(0x0080, payload);
    if (!ack) return 0xFFFF;
    if (value && ack->bytes.size() >= 12) *value = Be32(&ack->bytes[8]);
    return ack->Status();
}

uint16_t GvcpTestClient::WriteReg(uint32_t address, uint32_t value) {
    Bytes payload;
    PutBe32(payload, address);
    PutBe32(payload, value);
    auto ack = Transact(0x0082, payload);
    return ack ? ack->Status() : 0xFFFF;
}

uint16_t GvcpTestClient::ReadMem(uint32_t address, uint16_t count, Bytes* data) {
    Bytes payload;
    PutBe32(payload, address);
    PutBe16(payload, 0);
    PutBe16(payload, count);
    auto ack = Transact(0x0084, payload);
    if (!ack) return 0xFFFF;
    if (data && ack->bytes.size() > 12) data->assign(ack->bytes.begin() + 12, ack->bytes.end());
    return ack->Status();
}

uint16_t GvcpTestClient::WriteMem(uint32_t address, const Bytes& data) {
    Bytes payload;
    PutBe32(payload, address);
    payload.insert(payload.end(), data.begin(), data.end());
    auto ack = Transact(0x0086, payload);
    return ack ? ack->Status() : 0xFFFF;
}

}  // namespace SimTest
