#include "MessageChannel.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "CameraConfig.h"
#include "GvcpWire.h"

namespace GevSim {

using namespace Gvcp;

namespace {
// Bounds on host-written MCTT/MCRC, so that one Send cannot hang a test for long.
constexpr uint32_t kMaxRetries = 20;
constexpr uint32_t kMaxTimeoutMs = 10000;

std::vector<uint8_t> BuildEvent(const EventMessage& event, uint16_t requestId) {
    const bool withData = !event.data.empty();
    const size_t dataOffset = event.extendedIds ? kEventExtDataOffset : kEventDataOffset;
    std::vector<uint8_t> datagram(dataOffset + event.data.size(), 0);
    datagram[kCommandKeyOffset] = kKey;
    datagram[kCommandFlagsOffset] = static_cast<uint8_t>(
        (event.ackRequired ? kFlagAckRequired : 0) | (event.extendedIds ? kFlagExtendedIds : 0));
    Put16(&datagram[kCommandCodeOffset], withData ? kEventDataCmd : kEventCmd);
    Put16(&datagram[kCommandLengthOffset], static_cast<uint16_t>(datagram.size() - kHeaderSize));
    Put16(&datagram[kCommandRequestIdOffset], requestId);
    Put16(&datagram[kEventIdOffset], event.eventId);
    Put16(&datagram[kEventStreamChannelOffset], event.streamChannel);
    if (event.extendedIds) {
        // With 64-bit ids the first field is the size of this event, data included.
        Put16(&datagram[kHeaderSize], static_cast<uint16_t>(datagram.size() - kHeaderSize));
        Put64(&datagram[kEventExtBlockIdOffset], event.blockId);
        Put64(&datagram[kEventExtTimestampOffset], event.timestamp);
    } else {
        Put16(&datagram[kEventBlockIdOffset], static_cast<uint16_t>(event.blockId));
        Put64(&datagram[kEventTimestampOffset], event.timestamp);
    }
    std::copy(event.data.begin(), event.data.end(), datagram.begin() + dataOffset);
    return datagram;
}

}  // namespace

bool MessageChannel::Open(uint32_t ip, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket::Open(netns_, ip, 0, {}, error);
    port_ = socket_.Valid() ? socket_.LocalPort() : 0;
    return socket_.Valid();
}

void MessageChannel::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket();
    port_ = 0;
}

uint16_t MessageChannel::NextRequestId() {
    if (++lastRequestId_ == 0) lastRequestId_ = 1;  // 0 is never a request id
    return lastRequestId_;
}

bool MessageChannel::Send(const EventMessage& event, const DeviceModel::MessageTarget& target,
                          uint32_t gvcpCapability, uint16_t* requestIdUsed) {
    const bool withData = !event.data.empty();
    if ((gvcpCapability & (withData ? Capability::kEventData : Capability::kEvent)) == 0)
        return false;
    const size_t dataOffset = event.extendedIds ? kEventExtDataOffset : kEventDataOffset;
    if (dataOffset - kHeaderSize + event.data.size() > kMaxPayload) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!socket_.Valid() || target.port == 0 || target.ip == 0) return false;  // channel closed
    const uint16_t requestId = NextRequestId();
    if (requestIdUsed) *requestIdUsed = requestId;
    const std::vector<uint8_t> datagram = BuildEvent(event, requestId);
    const uint16_t expectedAck = withData ? kEventDataAck : kEventAck;
    const uint32_t attempts = 1 + std::min(target.retries, kMaxRetries);
    const auto timeout = std::chrono::milliseconds(std::min(target.timeoutMs, kMaxTimeoutMs));
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        if (!socket_.SendTo(datagram.data(), datagram.size(), target.ip, target.port)) return false;
        if (!event.ackRequired) return true;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            uint8_t ack[kHeaderSize + kMaxPayload];
            uint32_t ip = 0;
            uint16_t port = 0;
            const long size =
                socket_.ReceiveFrom(ack, sizeof ack, &ip, &port, static_cast<int>(left.count()));
            if (size >= static_cast<long>(kHeaderSize) &&
                Get16(ack + kAckCodeOffset) == expectedAck &&
                Get16(ack + kAckIdOffset) == requestId)
                return true;
        }
    }
    return false;
}

}  // namespace GevSim
