#include "StreamChannel.h"

namespace GevSim {

bool StreamChannel::Open(uint32_t ip, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket::Open(netns_, ip, 0, {}, error);
    return socket_.Valid();
}

void StreamChannel::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket();
}

uint16_t StreamChannel::SourcePort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return socket_.Valid() ? socket_.LocalPort() : 0;
}

}  // namespace GevSim
