// Runs one randomized sequence of consumer steps against the built producer
// and the in-process simulator, keeps the reference model in step, and checks
// its rules after every step. Runs on the test's thread; a kill step adds a
// waiting thread for the length of that step.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ConsumerModel.h"
#include "ConsumerModelSequence.h"
#include "CtiLibrary.h"
#include "GenApiPortBridge.h"
#include "GevSimCamera.h"
#include "StreamPayload.h"

namespace ConsumerModel {

// Bytes the padded camera puts after each line.
constexpr uint32_t kCameraPadding = 4;

// The open camera a sequence streams from.
struct Rig {
    TestSupport::CtiLibrary* cti;
    GevSim::Camera* camera;
    GenTL::DEV_HANDLE device;
    GenTL::PORT_HANDLE remote;
    GenApiBridge::GenApiPort* cameraApi;
};

struct Options {
    std::set<Invariant> ignored;
    // How much longer than its time-out a call may take before it counts as hung.
    std::chrono::milliseconds hangMargin{5000};  // a hang, not a slow loaded machine
};

struct Failure {
    Violation violation;
    size_t step;  // index into the steps; their count for the closing checks
};

struct RunStats {
    size_t steps = 0;
    size_t deliveries = 0;
    size_t images = 0;  // deliveries with new data
    size_t incomplete = 0;
    size_t cleanEnds = 0;  // acquisitions whose counters were added up
    size_t ignored = 0;    // violations of rules left out
};

class Driver {
public:
    Driver(const Rig& rig, const SequenceConfig& config, const Options& options);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // The steps, then the closing checks; the first violation ends the run.
    std::optional<Failure> Run(const std::vector<Step>& steps);
    // One line per step run: the step and what came of it.
    const std::vector<std::string>& Log() const { return log_; }
    const RunStats& Stats() const { return stats_; }
    // The configuration with its packet rules resolved against the real block size.
    const SequenceConfig& Config() const { return config_; }

private:
    struct Counters {
        uint64_t delivered = 0, underrun = 0, started = 0, lost = 0, incomplete = 0;
        bool complete = false;  // every counter answered
        std::string missing;    // the first that did not, and why
        uint64_t Seen() const { return started + underrun + lost; }
        uint64_t Accounted() const { return delivered + underrun + lost; }
    };
    // One acquisition, from DSStartAcquisition to DSStopAcquisition.
    struct Episode {
        bool clean = false;  // the camera was still and fenced at the start
        uint32_t frameLimit = 0;
        uint64_t sentBase = 0;
        uint64_t firstBlock = 0;
        Counters base;
        uint64_t images = 0;
        uint64_t incomplete = 0;
        std::optional<uint64_t> lastFrame;
    };

    // Steps (ConsumerModelDriver.cpp).
    void Execute(const Step& step);
    void Announce(uint32_t sizeClass, bool producerMemory);
    void Queue(uint32_t pick);
    void QueueIndex(size_t index);
    void Revoke(uint32_t pick);
    void RevokeIndex(size_t index);
    void Flush(GenTL::ACQ_QUEUE_TYPE mode, bool throughEvent);
    void Start(uint32_t frames);
    void Stop(GenTL::ACQ_STOP_FLAGS flags);
    void CleanStop();
    std::optional<size_t> GetData(uint64_t timeoutMs);
    void Consume(uint32_t frames);
    void KillWaiter();
    void Reopen();
    void CameraAcquisition(bool start);
    void WriteStreamRegister(uint64_t address, uint32_t value);
    void OpenStream();
    void CloseStream();
    void Fence();
    void Close();

    // Checks (ConsumerModelChecks.cpp).
    void CheckPlaces();
    void CheckDelivery(size_t index);
    // Empty when the buffer holds the camera's block whole, else what differs.
    std::string CompareContent(size_t index, uint64_t frameId);
    void CheckFrameLimit();
    void CheckCountersAfterEpisode(uint64_t sentAtWait);
    Counters ReadCounters();
    uint64_t InvisibleBlocks(uint64_t first, uint64_t last);
    // True when the camera drops the block's leader or trailer in first transmission.
    bool FrameLost(uint64_t block);
    // True when the camera drops both the block's leader and its trailer.
    bool BothEndsLost(uint64_t block);
    // What the camera did to the block's packets, for a report.
    std::string PacketFaults(uint64_t block);
    // What the camera sends: the format, and the packet ID of a block's trailer
    // (blocks of JPEG and chunk data differ in size; part and GenDC headers take room).
    GevSim::StreamFormat Format() const;
    uint32_t TrailerIdOf(uint64_t block);
    void ResolveOpen(const std::vector<size_t>& open);
    void WriteCanary(size_t index);
    void VerifyCanary(size_t index, const char* when);
    bool CanaryIntact(size_t index) const;
    void Handle(GenTL::GC_ERROR result, uint8_t* data, size_t size,
                std::chrono::steady_clock::duration took, uint64_t timeoutMs,
                std::optional<size_t>* delivered);
    void Apply(const Verdict& verdict);
    void Fail(Invariant invariant, const std::string& text);
    bool Failed() const { return failure_.has_value(); }
    void Note(const std::string& text);
    template <class T>
    GenTL::GC_ERROR StreamInfo(GenTL::STREAM_INFO_CMD command, T* value) {
        size_t size = sizeof *value;
        GenTL::INFO_DATATYPE type = 0;
        return cti_.DSGetInfo(stream_, command, &type, value, &size);
    }
    template <class T>
    GenTL::GC_ERROR BufferInfo(size_t index, GenTL::BUFFER_INFO_CMD command, T* value) {
        size_t size = sizeof *value;
        GenTL::INFO_DATATYPE type = 0;
        return cti_.DSGetBufferInfo(stream_, model_.At(index).handle, command, &type, value, &size);
    }

    TestSupport::CtiLibrary& cti_;
    GevSim::Camera& camera_;
    Rig rig_;
    SequenceConfig config_;
    Options options_;
    Model model_;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> consumerMemory_;  // by buffer index
    GenTL::DS_HANDLE stream_ = nullptr;
    GenTL::EVENT_HANDLE event_ = nullptr;
    size_t payloadSize_ = 0;
    uint32_t trailerId_ = 0;            // of the largest block
    uint32_t dataBytes_ = 0;            // payload bytes of a generic data packet
    std::vector<uint32_t> trailerIds_;  // of each block, by block id; 0 not yet known
    bool zeroCopy_ = false;
    bool resend_ = false;
    std::chrono::milliseconds stopLimit_{1000};
    bool cameraRunning_ = false;
    bool cameraFenced_ = true;
    uint64_t sentAtOpen_ = 0;
    uint64_t sequenceSentBase_ = 0;  // blocks sent before block 1 of this sequence
    Counters lastCounters_;
    std::optional<Episode> episode_;
    std::set<uint64_t> framesSeen_;
    std::vector<uint8_t> blockInvisible_;  // by block id: 0 unknown, 1 seen, 2 unseen
    std::optional<Failure> failure_;
    size_t step_ = 0;
    std::vector<std::string> log_;
    std::string note_;
    RunStats stats_;
};

}  // namespace ConsumerModel
