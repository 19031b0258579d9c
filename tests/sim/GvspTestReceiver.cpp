#include "GvspTestReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace SimTest {

std::optional<GvspPacket> ParseGvsp(const Bytes& bytes, uint16_t fromPort) {
    if (bytes.size() < 8) return std::nullopt;
    GvspPacket packet;
    packet.bytes = bytes;
    packet.fromPort = fromPort;
    packet.status = Be16(&bytes[0]);
    packet.extended = (bytes[4] & 0x80) != 0;
    packet.format = bytes[4] & 0x0F;
    if (packet.extended) {
        if (bytes.size() < 20) return std::nullopt;
        packet.flags = Be16(&bytes[2]);
        packet.blockId = Be64(&bytes[8]);
        packet.packetId = Be32(&bytes[16]);
        packet.headerSize = 20;
    } else {
        packet.blockId = Be16(&bytes[2]);
        packet.packetId = uint32_t{bytes[5]} << 16 | uint32_t{bytes[6]} << 8 | bytes[7];
        packet.headerSize = 8;
    }
    return packet;
}

Bytes ReceivedBlock::Payload() const {
    Bytes payload;
    for (const auto& [id, copies] : data)
        payload.insert(payload.end(), copies[0].Body(), copies[0].Body() + copies[0].BodySize());
    return payload;
}

GvspTestReceiver::GvspTestReceiver(const std::string& bindAddress) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int buffer = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("GVSP receiver cannot bind " + bindAddress);
}

GvspTestReceiver::~GvspTestReceiver() {
    close(fd_);
}

uint16_t GvspTestReceiver::Port() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

std::optional<GvspPacket> GvspTestReceiver::Receive(int timeoutMs) {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return std::nullopt;
    Bytes bytes(65536);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n =
        recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0) return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    return ParseGvsp(bytes, ntohs(from.sin_port));
}

std::vector<GvspPacket> GvspTestReceiver::Collect(size_t trailers, int quietMs, int maxMs) {
    std::vector<GvspPacket> packets;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    size_t seen = 0;
    while (seen < trailers && std::chrono::steady_clock::now() < end) {
        auto packet = Receive(quietMs);
        if (!packet) break;
        if (packet->format == 2) ++seen;
        packets.push_back(std::move(*packet));
    }
    return packets;
}

std::map<uint64_t, ReceivedBlock> ByBlock(const std::vector<GvspPacket>& packets) {
    std::map<uint64_t, ReceivedBlock> blocks;
    for (const GvspPacket& packet : packets) {
        ReceivedBlock& block = blocks[packet.blockId];
        if (packet.format == 1)
            block.leaders.push_back(packet);
        else if (packet.format == 2)
            block.trailers.push_back(packet);
        else
            block.data[packet.packetId].push_back(packet);
    }
    return blocks;
}

}  // namespace SimTest
