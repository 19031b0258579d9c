#include "BareReceiver.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "BenchReport.h"
#include "GvspPackets.h"

namespace Bench {

namespace {

constexpr unsigned kBatch = 64;             // datagrams per recvmmsg
constexpr size_t kDatagram = 9216;          // the largest packet size the benchmarks use
constexpr int kReceiveBuffer = 16 << 20;    // bursts of whole frames, nothing dropped
constexpr timeval kReadTimeout{0, 100000};  // how soon a stop is seen

}  // namespace

BareReceiver::BareReceiver(size_t frameBytes) : m_frame(frameBytes) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) throw std::runtime_error("bare receiver: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) !=
            0 ||
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &kReadTimeout, sizeof kReadTimeout) != 0 ||
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(m_fd);
        throw std::runtime_error("bare receiver: " + reason);
    }
    m_port = ntohs(address.sin_port);
    m_trailers.reserve(100000);
    m_thread = std::thread([this] { Run(); });
}

BareReceiver::~BareReceiver() {
    Stop();
    ::close(m_fd);
}

BareReceiver::Counters BareReceiver::Read() {
    Counters counters;
    counters.trailers = m_trailerCount.load(std::memory_order_relaxed);
    counters.bytes = m_bytes.load(std::memory_order_relaxed);
    clockid_t clock{};
    timespec used{};
    if (m_thread.joinable() && pthread_getcpuclockid(m_thread.native_handle(), &clock) == 0 &&
        clock_gettime(clock, &used) == 0)
        counters.cpuSeconds = used.tv_sec + used.tv_nsec / 1e9;
    return counters;
}

std::vector<BareReceiver::Trailer> BareReceiver::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_trailers;
}

void BareReceiver::Run() {
    std::vector<uint8_t> scratch(kBatch * kDatagram);
    std::vector<mmsghdr> messages(kBatch);
    std::vector<iovec> vectors(kBatch);
    for (unsigned i = 0; i < kBatch; ++i) {
        vectors[i] = {scratch.data() + i * kDatagram, kDatagram};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    size_t dataSize = 0;  // of a full payload packet: the first one seen in a block
    while (!m_stop) {
        const int got = ::recvmmsg(m_fd, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        for (int i = 0; i < got; ++i) {
            const uint8_t* datagram = scratch.data() + i * kDatagram;
            Vantor::Gvsp::Header header{};
            if (!Vantor::Gvsp::ParseHeader(datagram, messages[i].msg_len, &header)) continue;
            const size_t size = messages[i].msg_len - header.size;
            if (header.format == Vantor::Gvsp::kTrailer) {
                m_trailers.push_back({header.blockId, RealtimeNs()});
                m_trailerCount.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (header.format != Vantor::Gvsp::kPayloadGeneric || header.packetId == 0) continue;
            if (header.packetId == 1) dataSize = size;
            const size_t offset = (header.packetId - 1) * dataSize;
            if (offset >= m_frame.size()) continue;
            const size_t copied = std::min(size, m_frame.size() - offset);
            std::memcpy(m_frame.data() + offset, datagram + header.size, copied);
            m_bytes.fetch_add(copied, std::memory_order_relaxed);
        }
    }
}

}  // namespace Bench
