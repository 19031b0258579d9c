#include "StreamChannel.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>

#include "Bootstrap.h"
#include "GvspWire.h"

namespace GevSim {

using namespace Gvsp;
namespace U = UserRegister;

namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(100);
constexpr size_t kMaxQueuedRequests = 256;
// The sender sleeps only when it is this far ahead of the link, so that it sends in
// short bursts instead of sleeping (imprecisely) between every two packets.
constexpr auto kPacingSlack = std::chrono::microseconds(200);
constexpr uint16_t kLfsrSeed = 0xFFFF;
constexpr uint16_t kLfsrTaps = 0x8016;

uint64_t Wrap16(uint64_t id) {
    return id == 0 ? 1 : (id - 1) % 0xFFFF + 1;  // 1..0xFFFF; 0 is never a block id
}

}  // namespace

StreamChannel::StreamChannel(const CameraConfig& config, DeviceModel& model, StreamFaults& faults)
    : config_(config),
      model_(model),
      faults_(faults),
      segment_(config.sendMode == SendMode::Gso),
      nextBlockId_(config.firstBlockId) {}

StreamChannel::~StreamChannel() {
    Close();
}

bool StreamChannel::Open(uint32_t ip, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket::Open(config_.netns, ip, 0, {}, error);
    doNotFragment_ = false;
    if (!socket_.Valid()) return false;
    std::string why;
    if (segment_ && !DatagramBatch::SegmentationAvailable(socket_.Fd(), &why))
        RefuseSegmentation(why);
    const int on = 1;
    if (segment_ && config_.refuseGso)
        setsockopt(socket_.Fd(), SOL_SOCKET, SO_NO_CHECK, &on, sizeof on);
    if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread(&StreamChannel::Run, this);
    }
    return true;
}

void StreamChannel::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = UdpSocket();
    requests_.clear();
}

uint16_t StreamChannel::SourcePort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return socket_.Valid() ? socket_.LocalPort() : 0;
}

void StreamChannel::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void StreamChannel::RequestResend(const ResendRequest& request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.resendRequests;
        if (requests_.size() >= kMaxQueuedRequests) return;  // a flood: the rest is lost
        requests_.push_back(request);
        woken_ = true;
    }
    wake_.notify_all();
}

void StreamChannel::SetNextBlockId(uint64_t blockId) {
    std::lock_guard<std::mutex> lock(mutex_);
    nextBlockId_ = blockId;
    kept_.clear();
}

StreamStatistics StreamChannel::Statistics() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void StreamChannel::Run() {
    uint64_t generation = 0;
    uint32_t framesSent = 0;
    Clock::time_point nextFrame = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        woken_ = false;
        lock.unlock();
        const DeviceModel::StreamState state = model_.Stream();
        ServeRequests(state);
        const bool open = state.ip != 0 && state.port != 0;
        Clock::time_point deadline = Clock::now() + kIdleWait;
        if (state.acquiring) {
            if (state.generation != generation) {  // a new AcquisitionStart
                generation = state.generation;
                framesSent = 0;
                nextFrame = Clock::now();
            }
            if (open && Clock::now() >= nextFrame) {
                const uint32_t wanted = state.mode == U::kAcquisitionSingleFrame  ? 1
                                        : state.mode == U::kAcquisitionMultiFrame ? state.frameCount
                                                                                  : 0;
                // The last frame is taken: the acquisition ends before its block is on
                // the wire, so that a host seeing the trailer may start again at once.
                if (wanted != 0 && ++framesSent >= wanted) model_.EndAcquisition(generation);
                SendBlock(state);
                const auto period = state.frameRate > 0
                                        ? std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(1.0 / state.frameRate))
                                        : Clock::duration::zero();
                nextFrame += period;
                // A sender that fell behind does not burst to catch up.
                if (nextFrame < Clock::now() - period) nextFrame = Clock::now();
            }
            if (open) deadline = nextFrame;
        }
        lock.lock();
        wake_.wait_until(lock, deadline, [this] { return stopping_ || woken_; });
    }
}

uint64_t StreamChannel::TakeBlockId(bool extendedIds) {
    const uint64_t skip = faults_.TakeBlockIdSkip();
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t id = nextBlockId_ + skip;
    if (!extendedIds) id = Wrap16(id);
    if (id == 0) id = 1;
    nextBlockId_ = id + 1;
    return id;
}

void StreamChannel::SendBlock(const DeviceModel::StreamState& state) {
    const uint64_t id = TakeBlockId(state.extendedIds);
    const StreamFormat& format = state.format;
    const uint64_t payloadSize = StreamPayload::PayloadSize(format);
    if (format.payloadType == kPayloadImageExtendedChunk && payloadSize != chunkLayoutSize_) {
        chunkLayoutSize_ = payloadSize;  // the chunk layout changed with the image size
        ++chunkLayoutId_;
    }
    BlockContent content = StreamPayload::Build(format, id, model_.Timestamp(), chunkLayoutId_,
                                                std::move(spare_), spareImage_);
    spare_ = {};
    spareImage_.reset();
    if (auto rows = faults_.Plan(id, 0).shortRows) StreamPayload::CutRows(format, *rows, &content);
    PacketGeometry geometry;
    geometry.extendedIds = state.extendedIds;
    geometry.extraPacket = state.extraPacket;
    const uint32_t overhead = kIpUdpHeaderSize +
                              static_cast<uint32_t>(HeaderSize(state.extendedIds)) +
                              (state.extraPacket ? Bootstrap::kExtraPacketReserve : 0);
    geometry.dataBytesPerPacket = std::max<uint32_t>(state.packetSize, overhead + 4) - overhead;
    auto block = std::make_shared<GvspBlock>(id, std::move(content), geometry);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        kept_.push_back(block);
        while (kept_.size() > std::max<uint32_t>(config_.resendHistory, 1)) {
            // Only the stream thread holds kept blocks besides this list, and not this one.
            if (kept_.front().use_count() == 1) {
                spareImage_ = kept_.front()->StaticImage();
                spare_ = kept_.front()->ReleasePayload();
            }
            kept_.pop_front();
        }
        ++stats_.blocksSent;
        stats_.lastBlockId = id;
    }

    const StreamFaults::BlockPlan plan = faults_.Plan(id, block->TrailerId());
    const uint64_t dropped = config_.sendMode == SendMode::Plain ? SendPlain(*block, plan, state)
                                                                 : SendBatched(*block, plan, state);
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.packetsDropped += dropped;
}

uint64_t StreamChannel::SendPlain(const GvspBlock& block, const StreamFaults::BlockPlan& plan,
                                  const DeviceModel::StreamState& state) {
    uint64_t dropped = 0;
    uint32_t sent = 0;
    for (uint32_t packetId : plan.Order()) {
        // A camera answers resend requests while it streams, not only between blocks.
        if ((++sent & 15) == 0) ServeRequests(state);
        if (plan.Drops(packetId, false)) {
            ++dropped;
            continue;
        }
        const uint16_t flags =
            packetId == 0 && plan.deviceDiscard && state.extendedIds ? kFlagDeviceDiscarded : 0;
        const std::vector<uint8_t> packet = block.Packet(packetId, plan.Status(packetId), flags);
        for (int copy = plan.Duplicated(packetId) ? 2 : 1; copy > 0; --copy)
            if (!Send(packet, state, &StreamStatistics::packetsSent)) ++dropped;
    }
    return dropped;
}

// The same datagrams in the same order as SendPlain, a batch at a time; resend requests
// are answered between batches.
uint64_t StreamChannel::SendBatched(const GvspBlock& block, const StreamFaults::BlockPlan& plan,
                                    const DeviceModel::StreamState& state) {
    uint64_t dropped = 0;
    DatagramBatch batch;
    for (uint32_t packetId : plan.Order()) {
        if (plan.Drops(packetId, false)) {
            ++dropped;
            continue;
        }
        const uint16_t flags =
            packetId == 0 && plan.deviceDiscard && state.extendedIds ? kFlagDeviceDiscarded : 0;
        PacketView view;
        block.View(packetId, plan.Status(packetId), flags, &view);
        for (int copy = plan.Duplicated(packetId) ? 2 : 1; copy > 0; --copy) {
            if (batch.Full()) {
                dropped += Send(batch, state, &StreamStatistics::packetsSent);
                ServeRequests(state);
            }
            batch.Add(view);
        }
    }
    dropped += Send(batch, state, &StreamStatistics::packetsSent);
    return dropped;
}

void StreamChannel::ServeRequests(const DeviceModel::StreamState& state) {
    for (uint32_t n = model_.TakeTestPacketRequests(); n > 0; --n) SendTestPacket(state);
    for (;;) {
        ResendRequest request;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (requests_.empty()) return;
            request = requests_.front();
            requests_.pop_front();
        }
        Resend(request, state);
    }
}

// Unknown blocks and packet ids past the trailer get one header-only packet with
// status PACKET_UNAVAILABLE, naming the block and the first id that cannot be sent.
void StreamChannel::Resend(const ResendRequest& request, const DeviceModel::StreamState& state) {
    if (request.channel != 0) return;
    Block block;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Block& kept : kept_)
            if (kept->Id() == request.blockId) block = kept;
    }
    auto unavailable = [&](uint32_t packetId) {
        std::vector<uint8_t> packet(HeaderSize(request.extendedIds), 0);
        PutHeader(packet.data(), request.extendedIds, kStatusPacketUnavailable, 0, request.blockId,
                  kPayload, packetId);
        Send(packet, state, &StreamStatistics::packetsUnavailable);
    };
    if (!block || request.firstPacketId > request.lastPacketId) {
        unavailable(request.firstPacketId);
        return;
    }
    const StreamFaults::BlockPlan plan = faults_.Plan(block->Id(), block->TrailerId());
    const uint16_t flags = block->ExtendedIds() ? kFlagResent : 0;
    const uint32_t last = std::min(request.lastPacketId, block->TrailerId());
    if (config_.sendMode == SendMode::Plain) {
        for (uint32_t id = request.firstPacketId; id <= last; ++id)
            if (!plan.Drops(id, true))
                Send(block->Packet(id, plan.Status(id), flags), state,
                     &StreamStatistics::packetsResent);
    } else {
        DatagramBatch batch;
        for (uint32_t id = request.firstPacketId; id <= last; ++id) {
            if (plan.Drops(id, true)) continue;
            if (batch.Full()) Send(batch, state, &StreamStatistics::packetsResent);
            PacketView view;
            block->View(id, plan.Status(id), flags, &view);
            batch.Add(view);
        }
        Send(batch, state, &StreamStatistics::packetsResent);
    }
    if (request.lastPacketId > block->TrailerId())
        unavailable(std::max(request.firstPacketId, block->TrailerId() + 1));
}

// Exactly SCPS bytes on the wire: a 16-bit header (block id 0, packet id 0, generic
// payload format) followed by LFSR bytes, or zeros without the test-data capability.
void StreamChannel::SendTestPacket(const DeviceModel::StreamState& state) {
    const size_t size =
        state.packetSize > kIpUdpHeaderSize ? state.packetSize - kIpUdpHeaderSize : kHeaderSize;
    std::vector<uint8_t> packet(std::max(size, kHeaderSize), 0);
    PutHeader(packet.data(), false, kStatusSuccess, 0, 0, kPayload, 0);
    if (model_.GvcpCapability() & Capability::kTestData) {
        uint16_t lfsr = kLfsrSeed;
        for (size_t i = kHeaderSize; i < packet.size(); ++i) {
            packet[i] = static_cast<uint8_t>(lfsr);
            lfsr = static_cast<uint16_t>((lfsr >> 1) ^ ((lfsr & 1) ? kLfsrTaps : 0));
        }
    }
    Send(packet, state, &StreamStatistics::testPackets);
}

bool StreamChannel::Send(const std::vector<uint8_t>& packet, const DeviceModel::StreamState& state,
                         uint64_t StreamStatistics::*counter) {
    if (state.ip == 0 || state.port == 0 || faults_.Silent()) return false;
    Pace(packet.size(), 1, state);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!socket_.Valid()) return false;
    ApplyDoNotFragment(state);
    ++(stats_.*counter);
    if (socket_.SendTo(packet.data(), packet.size(), state.ip, state.port)) return true;
    --(stats_.*counter);
    return false;
}

size_t StreamChannel::Send(DatagramBatch& batch, const DeviceModel::StreamState& state,
                           uint64_t StreamStatistics::*counter) {
    const size_t count = batch.Count();
    if (count == 0) return 0;
    if (state.ip == 0 || state.port == 0 || faults_.Silent()) {
        batch.Clear();
        return count;
    }
    Pace(batch.Bytes(), count, state);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!socket_.Valid()) {
        batch.Clear();
        return count;
    }
    ApplyDoNotFragment(state);
    stats_.*counter += count;
    bool segment = segment_;
    const DatagramBatch::Result result = batch.Send(socket_.Fd(), state.ip, state.port, &segment);
    stats_.*counter -= count - result.sent;
    stats_.segmentedSends += result.segmented;
    if (!result.refusal.empty()) RefuseSegmentation(result.refusal);
    return count - result.sent;
}

void StreamChannel::Pace(size_t bytes, size_t datagrams, const DeviceModel::StreamState& state) {
    const auto now = Clock::now();
    if (nextSend_ > now + kPacingSlack) std::this_thread::sleep_until(nextSend_);
    // Wire time of the packets at the link speed, then SCPD each (timestamp ticks are ns).
    const double bits = (bytes + datagrams * kIpUdpHeaderSize) * 8.0;
    const auto wire = std::chrono::nanoseconds(
        static_cast<int64_t>(bits * 1000.0 / std::max<uint32_t>(config_.linkSpeedMbps, 1)) +
        static_cast<int64_t>(datagrams) * state.delayTicks);
    nextSend_ = std::max(nextSend_, now) + wire;
}

void StreamChannel::ApplyDoNotFragment(const DeviceModel::StreamState& state) {
    if (state.doNotFragment == doNotFragment_) return;
    const int mode = state.doNotFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(socket_.Fd(), IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode);
    doNotFragment_ = state.doNotFragment;
}

void StreamChannel::RefuseSegmentation(const std::string& why) {
    if (!segment_) return;
    segment_ = false;
    std::fprintf(stderr, "gevsim: UDP segmentation offload refused (%s): sending in batches\n",
                 why.c_str());
}

}  // namespace GevSim
