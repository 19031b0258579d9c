#include "DatagramBatch.h"

#include <arpa/inet.h>
#include <netinet/udp.h>

#include <cerrno>
#include <cstring>

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103  // older C libraries lack it; the kernel's value is fixed
#endif

namespace GevSim {

namespace {

// What a kernel (or route) that cannot segment answers to a UDP_SEGMENT message.
bool RefusesSegmentation(int error) {
    return error == EIO || error == EINVAL || error == ENOPROTOOPT || error == EOPNOTSUPP;
}

}  // namespace

bool DatagramBatch::SegmentationAvailable(int fd, std::string* why) {
    const int off = 0;  // no socket-wide segment size: each message names its own
    if (setsockopt(fd, SOL_UDP, UDP_SEGMENT, &off, sizeof off) == 0) return true;
    *why = std::strerror(errno);
    return false;
}

size_t DatagramBatch::Bytes() const {
    size_t bytes = 0;
    for (size_t i = 0; i < count_; ++i) bytes += views_[i].Size();
    return bytes;
}

void DatagramBatch::Add(const PacketView& view) {
    if (count_ < kCapacity) views_[count_++] = view;
}

size_t DatagramBatch::BuildMessages(size_t first, bool segment) {
    size_t messages = 0, iovecs = 0;
    for (size_t i = first; i < count_; ++messages) {
        const size_t size = views_[i].Size();
        size_t n = 1, bytes = size;
        // A run: datagrams of the first one's size, and at most one shorter at its end.
        if (segment)
            while (i + n < count_ && n < kMaxSegments && views_[i + n - 1].Size() == size &&
                   views_[i + n].Size() <= size &&
                   bytes + views_[i + n].Size() <= kMaxSegmentedBytes)
                bytes += views_[i + n++].Size();
        mmsghdr& message = messages_[messages];
        message = mmsghdr{};
        message.msg_hdr.msg_name = &destination_;
        message.msg_hdr.msg_namelen = sizeof destination_;
        message.msg_hdr.msg_iov = &iovecs_[iovecs];
        for (size_t k = i; k < i + n; ++k) {
            iovecs_[iovecs++] = {const_cast<uint8_t*>(views_[k].head.data()), views_[k].headSize};
            if (views_[k].bodySize > 0)
                iovecs_[iovecs++] = {const_cast<uint8_t*>(views_[k].body), views_[k].bodySize};
        }
        message.msg_hdr.msg_iovlen = &iovecs_[iovecs] - message.msg_hdr.msg_iov;
        if (n > 1) {
            Control& control = controls_[messages];
            std::memset(control.bytes, 0, sizeof control.bytes);
            message.msg_hdr.msg_control = control.bytes;
            message.msg_hdr.msg_controllen = sizeof control.bytes;
            cmsghdr* header = CMSG_FIRSTHDR(&message.msg_hdr);
            header->cmsg_level = SOL_UDP;
            header->cmsg_type = UDP_SEGMENT;
            header->cmsg_len = CMSG_LEN(sizeof(uint16_t));
            const auto segmentSize = static_cast<uint16_t>(size);
            std::memcpy(CMSG_DATA(header), &segmentSize, sizeof segmentSize);
        }
        firstView_[messages] = i;
        viewCount_[messages] = n;
        i += n;
    }
    return messages;
}

DatagramBatch::Result DatagramBatch::Send(int fd, uint32_t ip, uint16_t port, bool* segment) {
    Result result;
    destination_ = sockaddr_in{};
    destination_.sin_family = AF_INET;
    destination_.sin_addr.s_addr = htonl(ip);
    destination_.sin_port = htons(port);
    size_t messages = BuildMessages(0, *segment);
    for (size_t done = 0; done < messages;) {
        const int sent = sendmmsg(fd, &messages_[done], static_cast<unsigned>(messages - done), 0);
        if (sent > 0) {
            for (size_t m = done; m < done + static_cast<size_t>(sent); ++m) {
                result.sent += viewCount_[m];
                if (viewCount_[m] > 1) ++result.segmented;
            }
            done += static_cast<size_t>(sent);
            continue;
        }
        if (errno == EINTR) continue;
        const size_t from = firstView_[done];
        if (viewCount_[done] > 1 && RefusesSegmentation(errno)) {
            result.refusal = std::strerror(errno);
            *segment = false;
        } else if (from + viewCount_[done] >= count_) {
            break;  // the last message is lost
        } else {
            // This message is lost; the ones after it are built again from index 0.
            const size_t next = from + viewCount_[done];
            messages = BuildMessages(next, *segment);
            done = 0;
            continue;
        }
        messages = BuildMessages(from, *segment);
        done = 0;
    }
    count_ = 0;
    return result;
}

}  // namespace GevSim
