// Linux: one recvmmsg per batch, blocking for the first datagram up to the
// socket's receive time-out (MSG_WAITFORONE); with UDP_GRO one buffer may hold a
// run of datagrams that the kernel coalesced, cut apart by SplitSegments.
#include "ReceiveBatch.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "DatagramSegments.h"

#ifndef UDP_GRO
#define UDP_GRO 104
#endif

namespace Platform {
namespace {

// A coalesced run is at most one IP datagram's worth.
constexpr size_t kCoalescedCapacity = 65535;
constexpr size_t kCoalescedBatch = 16;
constexpr size_t kControlSize = CMSG_SPACE(sizeof(int));

}  // namespace

struct ReceiveBatch::Impl {
    SocketHandle socket;
    size_t capacity;
    size_t batchSize;
    bool coalescing = false;
    uint32_t timeoutMs = 0;  // 0: none set, the socket blocks without limit
    std::vector<uint8_t> storage;
    std::vector<iovec> vectors;
    std::vector<mmsghdr> headers;
    std::vector<sockaddr_in> senders;
    std::vector<uint8_t> control;
    std::vector<Segment> segments;
    std::vector<Datagram> datagrams;

    void Lay() {
        storage.assign(capacity * batchSize, 0);
        vectors.assign(batchSize, iovec{});
        headers.assign(batchSize, mmsghdr{});
        senders.assign(batchSize, sockaddr_in{});
        control.assign(coalescing ? kControlSize * batchSize : 0, 0);
        for (size_t i = 0; i < batchSize; ++i) {
            vectors[i].iov_base = storage.data() + i * capacity;
            vectors[i].iov_len = capacity;
        }
        datagrams.reserve(coalescing ? batchSize * 64 : batchSize);
    }

    void Rearm(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            msghdr& header = headers[i].msg_hdr;
            header = msghdr{};
            header.msg_name = &senders[i];
            header.msg_namelen = sizeof(sockaddr_in);
            header.msg_iov = &vectors[i];
            header.msg_iovlen = 1;
            if (coalescing) {
                header.msg_control = control.data() + i * kControlSize;
                header.msg_controllen = kControlSize;
            }
        }
    }

    static size_t SegmentSize(const msghdr& header) {
        for (cmsghdr* entry = CMSG_FIRSTHDR(&header); entry != nullptr;
             entry = CMSG_NXTHDR(const_cast<msghdr*>(&header), entry)) {
            if (entry->cmsg_level == IPPROTO_UDP && entry->cmsg_type == UDP_GRO) {
                int size = 0;
                std::memcpy(&size, CMSG_DATA(entry), sizeof size);
                return size > 0 ? static_cast<size_t>(size) : 0;
            }
        }
        return 0;
    }

    // The socket's receive time-out, set only when it changes.
    bool SetTimeout(uint32_t milliseconds) {
        if (milliseconds == timeoutMs) return true;
        timeval limit{};
        limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
        limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
        if (setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
        timeoutMs = milliseconds;
        return true;
    }

    int Read(int flags) {
        Rearm(batchSize);
        int count;
        do {
            count = ::recvmmsg(socket, headers.data(), static_cast<unsigned>(batchSize), flags,
                               nullptr);
        } while (count < 0 && errno == EINTR);
        if (count <= 0) return count;
        datagrams.clear();
        for (int i = 0; i < count; ++i) {
            const msghdr& header = headers[i].msg_hdr;
            const auto* base = static_cast<const uint8_t*>(vectors[i].iov_base);
            segments.clear();
            SplitSegments(headers[i].msg_len, capacity, coalescing ? SegmentSize(header) : 0,
                          (header.msg_flags & MSG_TRUNC) != 0, &segments);
            for (const Segment& segment : segments)
                datagrams.push_back(Datagram{base + segment.offset, segment.size,
                                             senders[i].sin_addr.s_addr,
                                             ntohs(senders[i].sin_port)});
        }
        return static_cast<int>(datagrams.size());
    }
};

ReceiveBatch::ReceiveBatch(SocketHandle socket, size_t datagramCapacity, size_t batchSize)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->socket = socket;
    m_impl->capacity = datagramCapacity;
    m_impl->batchSize = batchSize == 0 ? 1 : batchSize;
    m_impl->Lay();
}

ReceiveBatch::~ReceiveBatch() {
    // The others wait with poll first; they expect a socket without a receive time-out.
    if (m_impl->timeoutMs != 0) {
        timeval none{};
        setsockopt(m_impl->socket, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    }
    // Other readers of the socket (the packet size test, the flush) read one datagram a call.
    if (m_impl->coalescing) {
        int off = 0;
        setsockopt(m_impl->socket, IPPROTO_UDP, UDP_GRO, &off, sizeof off);
    }
}

bool ReceiveBatch::EnableCoalescing() {
    int on = 1;
    if (setsockopt(m_impl->socket, IPPROTO_UDP, UDP_GRO, &on, sizeof on) != 0) return false;
    m_impl->coalescing = true;
    m_impl->capacity = std::max(m_impl->capacity, kCoalescedCapacity);
    // Each buffer may now hold dozens of datagrams: fewer buffers do.
    m_impl->batchSize = std::min(m_impl->batchSize, kCoalescedBatch);
    m_impl->Lay();
    return true;
}

int ReceiveBatch::Receive(uint32_t milliseconds) {
    m_impl->datagrams.clear();
    // No time to wait: take what is queued, if anything.
    if (milliseconds == 0) {
        const int count = m_impl->Read(MSG_DONTWAIT);
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : count;
    }
    if (!m_impl->SetTimeout(milliseconds)) return -1;
    // One call: it blocks until the first datagram or the time-out, then takes
    // whatever else is queued without waiting.
    const int count = m_impl->Read(MSG_WAITFORONE);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return count;
}

size_t ReceiveBatch::Count() const {
    return m_impl->datagrams.size();
}

const Datagram& ReceiveBatch::operator[](size_t index) const {
    return m_impl->datagrams[index];
}

}  // namespace Platform
