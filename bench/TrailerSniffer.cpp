#include "TrailerSniffer.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

#include "GvspPackets.h"

namespace Bench {

namespace {

constexpr int kReceiveBuffer = 16 << 20;  // the trailers of a whole run, read at its end
constexpr uint32_t kSnapLength = 64;      // IP, UDP and the GVSP header are enough
constexpr uint32_t kUdp = 17;
constexpr uint32_t kFragmentMask = 0x1FFF;
// Offsets in the datagram as a SOCK_DGRAM packet socket sees it: the IP header first.
constexpr uint32_t kIpProtocol = 9, kIpFragment = 6;
constexpr uint32_t kUdpDestinationPort = 2, kUdpHeader = 8;
constexpr uint32_t kGvspFormat = 4;  // EI flag and packet format

}  // namespace

TrailerSniffer::TrailerSniffer(uint16_t port) {
    // No protocol until the filter is in place, so that nothing else queues up.
    m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) throw std::runtime_error("sniffer: no packet socket");
    // UDP, not a fragment, to `port`, GVSP format "trailer": the first 64 bytes.
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kIpProtocol),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kUdp, 0, 8),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kIpFragment),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kFragmentMask, 6, 0),
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, kUdpDestinationPort),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, port, 0, 3),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, kUdpHeader + kGvspFormat),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Vantor::Gvsp::kTrailer, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, kSnapLength),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    const int on = 1;
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_IP);
    address.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    if (::setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        ::setsockopt(m_fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) != 0 ||
        ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) !=
            0 ||
        address.sll_ifindex == 0 ||
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(m_fd);
        throw std::runtime_error("sniffer: " + reason);
    }
}

TrailerSniffer::~TrailerSniffer() {
    ::close(m_fd);
}

std::vector<TrailerSniffer::Trailer> TrailerSniffer::Drain() {
    std::vector<Trailer> trailers;
    uint8_t packet[kSnapLength];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    while (true) {
        iovec vector{packet, sizeof packet};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (size <= 0) break;
        const size_t ipHeader = (packet[0] & 0x0F) * 4u;
        const size_t at = ipHeader + kUdpHeader;
        Vantor::Gvsp::Header header{};
        if (static_cast<size_t>(size) <= at ||
            !Vantor::Gvsp::ParseHeader(packet + at, static_cast<size_t>(size) - at, &header))
            continue;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            trailers.push_back({header.blockId, stamp.tv_sec * 1000000000LL + stamp.tv_nsec});
        }
    }
    return trailers;
}

uint64_t TrailerSniffer::Dropped() {
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (::getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) return 0;
    return stats.tp_drops;
}

}  // namespace Bench
