#include "RawCeiling.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "ChildProcess.h"

namespace Bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kBatch = 64;              // datagrams per sendmmsg / recvmmsg
constexpr size_t kFrameBytes = 2048 * 1536;  // the benchmark's Mono8 frame
constexpr size_t kSequenceBytes = 8;         // where a GVSP header would be
constexpr int kReceiveBuffer = 1 << 20;      // as the library asks for its stream
constexpr auto kWarmUp = std::chrono::milliseconds(300);
constexpr auto kSenderTail = std::chrono::milliseconds(300);

class Socket {
public:
    Socket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        if (m_fd < 0) throw std::runtime_error("ceiling: no socket");
    }
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct SenderReport {
    uint64_t datagrams = 0;
    double seconds = 0;
};

// The sender's loop, in the child: batches of numbered datagrams until `run` has
// passed, then its count down the pipe. Everything it touches was allocated
// before the fork.
int Send(const sockaddr_in& to, std::vector<uint8_t>& data, uint32_t payload,
         std::vector<mmsghdr>& messages, std::vector<iovec>& vectors,
         std::chrono::duration<double> run, int reportFd) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return 1;
    for (unsigned i = 0; i < kBatch; ++i) {
        vectors[i] = {data.data() + i * payload, payload};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    SenderReport report;
    const auto begin = Clock::now();
    while (Clock::now() - begin < run) {
        for (unsigned i = 0; i < kBatch; ++i) {
            const uint64_t sequence = report.datagrams + i;
            std::memcpy(data.data() + i * payload, &sequence, sizeof sequence);
        }
        const int sent = ::sendmmsg(fd, messages.data(), kBatch, 0);
        if (sent > 0) report.datagrams += static_cast<uint64_t>(sent);
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    ::close(fd);
    return ::write(reportFd, &report, sizeof report) == static_cast<ssize_t>(sizeof report) ? 0 : 1;
}

}  // namespace

CeilingMeasurement MeasureCeiling(uint32_t payload, double seconds, CeilingRead read) {
    if (payload <= kSequenceBytes || payload > 65507)
        throw std::runtime_error("ceiling: bad datagram size");
    Socket receiver;
    ::setsockopt(receiver.fd(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    ::setsockopt(receiver.fd(), SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer);
    const timeval timeout{0, 200000};
    ::setsockopt(receiver.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(receiver.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(receiver.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("ceiling: cannot bind on loopback");

    // The sender's memory, made here so that its fork allocates nothing.
    std::vector<uint8_t> sendData(kBatch * payload, 0x5A);
    std::vector<mmsghdr> sendMessages(kBatch);
    std::vector<iovec> sendVectors(kBatch);
    TestProcess::Pipe reports;
    const auto run = kWarmUp + std::chrono::duration<double>(seconds) + kSenderTail;
    TestProcess::ChildProcess sender([&] {
        receiver.Close();
        reports.CloseRead();
        return Send(address, sendData, payload, sendMessages, sendVectors, run, reports.WriteEnd());
    });
    if (!sender.started()) throw std::runtime_error("ceiling: fork failed");
    reports.CloseWrite();

    std::vector<uint8_t> scratch(kBatch * payload);
    std::vector<mmsghdr> messages(kBatch);
    // Copy: one vector a datagram. Scatter: three, header, place in the frame,
    // and the rest (past a frame's end) into the scratch.
    const size_t perMessage = read == CeilingRead::Scatter ? 3 : 1;
    std::vector<iovec> vectors(kBatch * perMessage);
    for (unsigned i = 0; i < kBatch; ++i) {
        vectors[i * perMessage] = {scratch.data() + i * payload, payload};
        messages[i].msg_hdr.msg_iov = &vectors[i * perMessage];
        messages[i].msg_hdr.msg_iovlen = perMessage;
    }
    std::vector<uint8_t> frames[2] = {std::vector<uint8_t>(kFrameBytes),
                                      std::vector<uint8_t>(kFrameBytes)};
    const size_t dataSize = payload - kSequenceBytes;
    const uint64_t packetsPerFrame = (kFrameBytes + dataSize - 1) / dataSize;
    auto place = [&](uint64_t sequence, size_t* size) {
        const size_t offset = (sequence % packetsPerFrame) * dataSize;
        *size = std::min(dataSize, kFrameBytes - offset);
        return frames[(sequence / packetsPerFrame) & 1].data() + offset;
    };
    uint64_t predicted = 0;
    auto aim = [&] {
        if (read != CeilingRead::Scatter) return;
        for (unsigned i = 0; i < kBatch; ++i) {
            iovec* v = &vectors[i * 3];
            size_t size = 0;
            uint8_t* at = place(predicted + i, &size);
            v[0] = {scratch.data() + i * payload, kSequenceBytes};
            v[1] = {at, size};
            v[2] = {scratch.data() + i * payload + kSequenceBytes, dataSize - size};
        }
    };
    aim();

    CeilingMeasurement m;
    enum { kWaiting, kWarming, kMeasuring } phase = kWaiting;
    const auto started = Clock::now();
    auto phaseStart = started;
    double cpuBefore = 0;
    while (true) {
        const int got = ::recvmmsg(receiver.fd(), messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        const auto now = Clock::now();
        uint64_t bytes = 0;
        for (int i = 0; i < got; ++i) {
            const uint8_t* datagram = scratch.data() + i * payload;
            if (messages[i].msg_len <= kSequenceBytes) continue;
            uint64_t sequence = 0;
            std::memcpy(&sequence, datagram, sizeof sequence);
            size_t size = 0;
            uint8_t* at = place(sequence, &size);
            size = std::min<size_t>(messages[i].msg_len - kSequenceBytes, size);
            if (read == CeilingRead::Copy) {
                std::memcpy(at, datagram + kSequenceBytes, size);
            } else if (sequence != predicted + i) {
                // Not the one aimed at: moved once from where it landed.
                const iovec* v = &vectors[i * 3];
                const size_t head = std::min(size, v[1].iov_len);
                std::memmove(at, v[1].iov_base, head);
                std::memcpy(at + head, v[2].iov_base, size - head);
                ++m.moved;
            }
            bytes += size;
            if (read == CeilingRead::Scatter && i + 1 == got) predicted = sequence + 1;
        }
        if (got > 0) aim();
        if (phase == kMeasuring) {
            m.datagrams += got > 0 ? static_cast<uint64_t>(got) : 0;
            m.bytes += bytes;
            if (now - phaseStart >= std::chrono::duration<double>(seconds)) break;
        } else if (phase == kWarming && now - phaseStart >= kWarmUp) {
            phase = kMeasuring;
            phaseStart = now;
            cpuBefore = ThreadCpuSeconds();
        } else if (phase == kWaiting && got > 0) {
            phase = kWarming;
            phaseStart = now;
        } else if (phase == kWaiting && now - started > std::chrono::seconds(5)) {
            throw std::runtime_error("ceiling: no datagram arrived");
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error(std::string("ceiling: recvmmsg: ") + std::strerror(errno));
    }
    m.seconds = std::chrono::duration<double>(Clock::now() - phaseStart).count();
    m.cpuSeconds = ThreadCpuSeconds() - cpuBefore;
    receiver.Close();
    SenderReport report;
    if (TestProcess::ReadAll(reports.ReadEnd(), &report, sizeof report, std::chrono::seconds(5)) &&
        report.seconds > 0)
        m.senderMBps = report.datagrams * double(dataSize) / report.seconds / 1e6;
    return m;
}

}  // namespace Bench
