// Stream channel 0 of the camera: its source socket (SCSP0) and the stream thread that
// sends GVSP blocks to SCDA0:SCP0 while acquiring, answers PACKETRESEND from the last
// blocks it keeps, and fires test packets. Threads: Open() starts the stream thread,
// Close() joins it; the thread alone sends. A mutex guards the socket, the request
// queue, the kept blocks and the counters; any thread may call any member.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CameraConfig.h"
#include "DatagramBatch.h"
#include "DeviceModel.h"
#include "GvspBlock.h"
#include "ResendRequest.h"
#include "StreamFaults.h"
#include "StreamStatistics.h"
#include "UdpSocket.h"

namespace GevSim {

class StreamChannel {
public:
    StreamChannel(const CameraConfig& config, DeviceModel& model, StreamFaults& faults);
    ~StreamChannel();
    StreamChannel(const StreamChannel&) = delete;
    StreamChannel& operator=(const StreamChannel&) = delete;

    // Binds a fresh socket to ip:0 (again after FORCEIP) and makes sure the stream
    // thread runs; returns false on failure.
    bool Open(uint32_t ip, std::string* error);
    void Close();
    uint16_t SourcePort() const;

    // Registers may have changed: the stream thread looks again at once.
    void Wake();
    void RequestResend(const ResendRequest& request);
    // The next block gets this id (wrapped to 1..0xFFFF in 16-bit mode); kept blocks
    // are forgotten.
    void SetNextBlockId(uint64_t blockId);
    StreamStatistics Statistics() const;

private:
    using Clock = std::chrono::steady_clock;
    using Block = std::shared_ptr<GvspBlock>;

    void Run();
    void SendBlock(const DeviceModel::StreamState& state);
    // The block's first transmission per the plan; returns the datagrams not sent.
    uint64_t SendPlain(const GvspBlock& block, const StreamFaults::BlockPlan& plan,
                       const DeviceModel::StreamState& state);
    uint64_t SendBatched(const GvspBlock& block, const StreamFaults::BlockPlan& plan,
                         const DeviceModel::StreamState& state);
    void ServeRequests(const DeviceModel::StreamState& state);
    void Resend(const ResendRequest& request, const DeviceModel::StreamState& state);
    void SendTestPacket(const DeviceModel::StreamState& state);
    uint64_t TakeBlockId(bool extendedIds);
    // Sends at the link speed plus SCPD; false when nothing went out. `counter` goes up
    // before the datagram leaves, so that a host that got it sees it counted.
    bool Send(const std::vector<uint8_t>& packet, const DeviceModel::StreamState& state,
              uint64_t StreamStatistics::*counter);
    // The same for a batch, which it empties; returns the datagrams not sent.
    size_t Send(DatagramBatch& batch, const DeviceModel::StreamState& state,
                uint64_t StreamStatistics::*counter);
    // Waits until the link is free for `datagrams` datagrams of `bytes` bytes in all.
    void Pace(size_t bytes, size_t datagrams, const DeviceModel::StreamState& state);
    // With the mutex held.
    void ApplyDoNotFragment(const DeviceModel::StreamState& state);
    void RefuseSegmentation(const std::string& why);

    const CameraConfig& config_;
    DeviceModel& model_;
    StreamFaults& faults_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool stopping_ = false;
    UdpSocket socket_;
    bool doNotFragment_ = false;
    // Gso mode until the kernel refuses UDP_SEGMENT once; then Batch for good.
    bool segment_ = false;
    std::deque<ResendRequest> requests_;
    std::deque<Block> kept_;
    uint64_t nextBlockId_;
    StreamStatistics stats_;
    std::thread thread_;

    // Stream thread only.
    Clock::time_point nextSend_{};
    uint64_t chunkLayoutSize_ = 0;
    uint32_t chunkLayoutId_ = 0;
    // The payload storage of the last block forgotten, for the next one: a new block
    // then neither allocates nor clears its payload.
    std::vector<uint8_t> spare_;
    std::optional<StreamFormat> spareImage_;  // the static image spare_ holds, if any
};

}  // namespace GevSim
