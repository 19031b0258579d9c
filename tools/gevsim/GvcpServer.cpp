#include "GvcpServer.h"

#include <poll.h>

#include <cstdio>

#include "DeviceModel.h"
#include "GvcpWire.h"

namespace GevSim {

using namespace Gvcp;

namespace {
constexpr uint32_t kBroadcastIp = 0xFFFFFFFF;
constexpr int kPollMs = 20;  // bounds Stop() latency and heartbeat checking granularity
constexpr size_t kReceiveBufferSize = 2048;

const char* CommandName(uint16_t command) {
    switch (command) {
        case kDiscoveryCmd:
            return "DISCOVERY";
        case kForceIpCmd:
            return "FORCEIP";
        case kPacketResendCmd:
            return "PACKETRESEND";
        case kReadRegCmd:
            return "READREG";
        case kWriteRegCmd:
            return "WRITEREG";
        case kReadMemCmd:
            return "READMEM";
        case kWriteMemCmd:
            return "WRITEMEM";
        default:
            return "command";
    }
}
}  // namespace

GvcpServer::GvcpServer(const CameraConfig& config, DeviceModel& model, Faults& faults,
                       CommandLog& log, AddressChanged addressChanged, PacketResend packetResend)
    : config_(config),
      model_(model),
      faults_(faults),
      log_(log),
      addressChanged_(std::move(addressChanged)),
      packetResend_(std::move(packetResend)),
      handler_(model) {}

GvcpServer::~GvcpServer() {
    Stop();
}

bool GvcpServer::Start(uint32_t ip, std::string* error) {
    UdpSocket::Options unicastOptions;
    unicastOptions.broadcast = config_.broadcastAckWhenAllowed;
    unicast_ = UdpSocket::Open(config_.netns, ip, config_.port, unicastOptions, error);
    if (!unicast_.Valid()) return false;
    UdpSocket::Options broadcastOptions;
    broadcastOptions.reuseAddress = true;  // every camera of the namespace hears discovery
    broadcast_ =
        UdpSocket::Open(config_.netns, kBroadcastIp, config_.port, broadcastOptions, error);
    if (!broadcast_.Valid()) {
        unicast_ = UdpSocket();
        return false;
    }
    stopping_ = false;
    thread_ = std::thread(&GvcpServer::Run, this);
    return true;
}

void GvcpServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        stopping_ = true;
    }
    waitCondition_.notify_all();
    if (thread_.joinable()) thread_.join();
    unicast_ = UdpSocket();
    broadcast_ = UdpSocket();
}

bool GvcpServer::Wait(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    return !waitCondition_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

void GvcpServer::Log(const std::string& line) const {
    if (config_.log) config_.log(line);
}

void GvcpServer::Run() {
    uint8_t buffer[kReceiveBufferSize];
    while (!stopping_) {
        pollfd fds[2] = {{unicast_.Fd(), POLLIN, 0}, {broadcast_.Fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, kPollMs);
        if (model_.ExpireHeartbeat(std::chrono::steady_clock::now()))
            Log("heartbeat timeout: control privilege released");
        if (ready <= 0) continue;
        for (int i = 0; i < 2 && !stopping_; ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            const UdpSocket& socket = i == 0 ? unicast_ : broadcast_;
            Host sender;
            const long size =
                socket.ReceiveFrom(buffer, sizeof buffer, &sender.ip, &sender.port, 0);
            if (size > 0) HandleDatagram(buffer, static_cast<size_t>(size), sender, i == 1);
        }
    }
}

void GvcpServer::HandleDatagram(const uint8_t* data, size_t size, const Host& sender,
                                bool broadcast) {
    Request request;
    if (!ParseRequest(data, size, &request)) return;  // not GVCP: ignored silently
    request.sender = sender;
    request.broadcast = broadcast;
    // Only these two are meant for every device of the segment.
    if (broadcast && request.command != kDiscoveryCmd && request.command != kForceIpCmd) return;

    ReceivedCommand entry;
    entry.command = request.command;
    entry.flags = request.flags;
    entry.requestId = request.requestId;
    entry.length = request.length;
    entry.address = request.FirstAddress();
    entry.time = std::chrono::steady_clock::now();
    entry.senderAddress = FormatIpv4(sender.ip);
    entry.senderPort = sender.port;
    entry.broadcast = broadcast;
    log_.Add(entry);
    if (faults_.Silent()) return;  // unplugged: it never arrived
    Log(std::string(CommandName(request.command)) + " id " + std::to_string(request.requestId) +
        " from " + entry.senderAddress + ":" + std::to_string(sender.port));
    model_.NoteCommand(sender, entry.time);

    const bool answered = request.command == kDiscoveryCmd || request.AckRequired();
    Faults::Plan plan;
    if (answered) plan = faults_.Take(request.command, request.requestId, entry.address);
    if (plan.failStatus) {
        Acknowledge(request,
                    MakeAck(*plan.failStatus, static_cast<uint16_t>(request.command + 1),
                            request.requestId),
                    plan);
        return;
    }
    if (plan.registerValue && request.length == 4) {
        std::vector<uint8_t> value(4);
        Put32(value.data(), *plan.registerValue);
        Acknowledge(request, MakeAck(kStatusSuccess, kReadRegAck, request.requestId, value), plan);
        return;
    }
    Reply reply = handler_.Handle(request);
    if (reply.resend && packetResend_) packetResend_(*reply.resend);
    if (reply.forceIp && reply.forceIp->ip != 0) {
        if (!Rebind(reply.forceIp->ip)) return;  // address unusable: no acknowledge
        model_.SetNetwork(reply.forceIp->ip, reply.forceIp->mask, reply.forceIp->gateway);
        if (addressChanged_) addressChanged_(reply.forceIp->ip);
    }
    if (!reply.ack.empty()) Acknowledge(request, std::move(reply.ack), plan);
}

bool GvcpServer::Rebind(uint32_t ip) {
    UdpSocket::Options options;
    options.broadcast = config_.broadcastAckWhenAllowed;
    std::string error;
    UdpSocket moved = UdpSocket::Open(config_.netns, ip, config_.port, options, &error);
    if (!moved.Valid()) {
        Log("FORCEIP to " + FormatIpv4(ip) + " failed: " + error);
        return false;
    }
    unicast_ = std::move(moved);
    Log("FORCEIP: now serving on " + FormatIpv4(ip));
    return true;
}

void GvcpServer::Acknowledge(const Request& request, std::vector<uint8_t> ack,
                             const Faults::Plan& plan) {
    if (plan.drop) return;
    uint32_t ip = request.sender.ip;
    if (config_.broadcastAckWhenAllowed && (request.flags & kFlagBroadcastAckAllowed) &&
        (request.command == kDiscoveryCmd || request.command == kForceIpCmd))
        ip = kBroadcastIp;
    const uint16_t port = request.sender.port;
    auto send = [&](const std::vector<uint8_t>& bytes) {
        unicast_.SendTo(bytes.data(), bytes.size(), ip, port);
    };
    if (plan.delay.count() > 0 && !Wait(plan.delay)) return;
    if (plan.pending) {
        std::vector<uint8_t> pending = MakeAck(kStatusSuccess, kPendingAck, request.requestId,
                                               std::vector<uint8_t>(kPendingAckSize - kHeaderSize));
        Put16(&pending[kPendingTimeOffset], static_cast<uint16_t>(plan.pending->count()));
        send(pending);
        if (!Wait(*plan.pending)) return;
    }
    if (plan.discoveryLength > 0) {
        ack.resize(plan.discoveryLength, 0);
        if (ack.size() >= kHeaderSize)
            Put16(&ack[kAckLengthOffset], static_cast<uint16_t>(ack.size() - kHeaderSize));
    }
    if (plan.staleAckId && ack.size() >= kHeaderSize) {
        std::vector<uint8_t> stale = ack;
        Put16(&stale[kAckIdOffset], *plan.staleAckId);
        send(stale);
    }
    send(ack);
    if (plan.duplicate) send(ack);
}

}  // namespace GevSim
