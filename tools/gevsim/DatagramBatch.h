// Up to 64 datagrams for one destination, gathered from PacketViews (no body copied)
// and sent with one sendmmsg. With segmentation offload, each run of equal-size
// datagrams (its last one may be shorter) goes as one UDP_SEGMENT message that the
// kernel cuts back into those datagrams, byte for byte. One thread uses a batch.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "GvspBlock.h"

namespace GevSim {

class DatagramBatch {
public:
    static constexpr size_t kCapacity = 64;
    // Kernel limits of one segmented send: segments, and UDP payload over IPv4.
    static constexpr size_t kMaxSegments = 64;
    static constexpr size_t kMaxSegmentedBytes = 65507;

    struct Result {
        size_t sent = 0;       // datagrams that left
        size_t segmented = 0;  // UDP_SEGMENT messages among them, of 2 datagrams or more
        std::string refusal;   // not empty: the kernel refused segmentation, which is off now
    };

    // Whether the kernel knows UDP_SEGMENT on this socket; if not, says why.
    static bool SegmentationAvailable(int fd, std::string* why);

    bool Empty() const { return count_ == 0; }
    bool Full() const { return count_ == kCapacity; }
    size_t Count() const { return count_; }
    // Bytes of all datagrams, UDP payload only.
    size_t Bytes() const;
    void Add(const PacketView& view);
    void Clear() { count_ = 0; }

    // Sends every datagram to ip:port (host order) and empties the batch. `segment`:
    // use UDP_SEGMENT; when the kernel refuses it the rest goes without, and `segment`
    // becomes false. A datagram that fails otherwise is lost, as a plain sendto's is.
    Result Send(int fd, uint32_t ip, uint16_t port, bool* segment);

private:
    // Messages for views_[first..count_); returns how many.
    size_t BuildMessages(size_t first, bool segment);

    std::array<PacketView, kCapacity> views_;
    size_t count_ = 0;

    sockaddr_in destination_{};
    std::array<mmsghdr, kCapacity> messages_{};
    std::array<iovec, 2 * kCapacity> iovecs_{};
    std::array<size_t, kCapacity> firstView_{};  // per message
    std::array<size_t, kCapacity> viewCount_{};  // per message
    struct alignas(cmsghdr) Control {
        uint8_t bytes[CMSG_SPACE(sizeof(uint16_t))];
    };
    std::array<Control, kCapacity> controls_{};
};

}  // namespace GevSim
