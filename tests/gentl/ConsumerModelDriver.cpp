#include "ConsumerModelDriver.h"

#include <cstring>
#include <sstream>
#include <thread>

#include "Bootstrap.h"
#include "GEVTLKRVInfo.h"

namespace ConsumerModel {

using namespace GenTL;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr size_t kMaxBuffers = 10;
// Stream module registers (DataStream.h).
constexpr uint64_t kRegPacketResend = 0x10;
constexpr uint64_t kRegImageTimeout = 0x1C;
constexpr uint64_t kRegUseUserBuffer = 0x224;
// The fence's test packets go to a port nothing listens on, inside the namespace.
constexpr uint32_t kDeadPort = 9;
constexpr auto kConditionLimit = std::chrono::seconds(10);

template <class Condition>
bool Await(Condition condition, Clock::duration limit = kConditionLimit) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= end) return condition();
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

std::string Error(GC_ERROR code) {
    return std::to_string(code);
}

}  // namespace

Driver::Driver(const Rig& rig, const SequenceConfig& config, const Options& options)
    : cti_(*rig.cti), camera_(*rig.camera), rig_(rig), config_(config), options_(options) {}

Driver::~Driver() {
    // After a violation the stream may still be open: it goes before the next sequence.
    if (stream_ != nullptr) cti_.DSClose(stream_);
    if (cameraRunning_) camera_.StopStreaming();
}

void Driver::Fail(Invariant invariant, const std::string& text) {
    if (options_.ignored.count(invariant) != 0) {
        ++stats_.ignored;
        return;
    }
    if (!failure_) failure_ = Failure{Violation{invariant, text}, step_};
}

void Driver::Apply(const Verdict& verdict) {
    if (verdict) Fail(verdict->invariant, verdict->text);
}

void Driver::Note(const std::string& text) {
    if (!note_.empty()) note_ += "; ";
    note_ += text;
}

std::optional<Failure> Driver::Run(const std::vector<Step>& steps) {
    namespace U = GevSim::UserRegister;
    // The camera is still: it takes this sequence's stream and faults.
    camera_.faults().Clear();
    camera_.SetRegister(U::kWidth, config_.width);
    camera_.SetRegister(U::kHeight, config_.height);
    camera_.SetRegister(U::kPayloadType, config_.payload->gvsp);
    float rate = config_.frameRate;
    uint32_t rateBits = 0;
    std::memcpy(&rateBits, &rate, 4);
    camera_.SetRegister(U::kAcquisitionFrameRate, rateBits);
    camera_.SetRegister(U::kAcquisitionMode, U::kAcquisitionContinuous);
    camera_.StopStreaming();
    payloadSize_ = camera_.Register(U::kPayloadSize);
    zeroCopy_ = config_.delivery == Delivery::ZeroCopy;
    resend_ = config_.resend;
    OpenStream();
    // Block ids from 1, one after the other: the count of blocks sent names the last.
    Fence();
    if (Failed()) return failure_;
    camera_.SetNextBlockId(1);
    sequenceSentBase_ = sentAtOpen_ = camera_.StreamStats().blocksSent;

    // The packet rules name real packets of this block size: drops only data
    // packets, so that every block keeps its leader and trailer.
    const uint32_t packetSize = camera_.Register(GevSim::Bootstrap::kScps0) & 0xFFFF;
    const uint32_t dataBytes = packetSize - 28 - 8;
    dataBytes_ = dataBytes;
    trailerIds_.clear();
    trailerId_ = static_cast<uint32_t>((payloadSize_ + dataBytes - 1) / dataBytes) + 1;
    GevSim::StreamFaults& faults = camera_.faults().Stream();
    for (PacketRule& rule : config_.drops) {
        rule.first = 1 + rule.first % (trailerId_ - 1);
        faults.DropPackets(rule.blockId, {rule.first});
    }
    for (PacketRule& rule : config_.swaps) {
        rule.first %= trailerId_ + 1;
        rule.second %= trailerId_ + 1;
        faults.SwapPackets(rule.blockId, rule.first, rule.second);
    }
    for (PacketRule& rule : config_.duplicates) {
        rule.first %= trailerId_ + 1;
        faults.DuplicatePackets(rule.blockId, {rule.first});
    }
    if (config_.dropRatio > 0) faults.DropRatio(config_.dropRatio, config_.dropSeed);

    for (step_ = 0; step_ < steps.size() && !Failed(); ++step_) {
        note_.clear();
        const auto start = Clock::now();
        Execute(steps[step_]);
        if (!Failed()) CheckPlaces();
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        ++stats_.steps;
        std::ostringstream line;
        line << (step_ < 10    ? "   "
                 : step_ < 100 ? "  "
                               : " ")
             << step_ << " " << steps[step_].Describe();
        if (!note_.empty()) line << ": " << note_;
        if (took >= 100) line << " (" << took << " ms)";
        log_.push_back(line.str());
    }
    if (!Failed()) {
        note_.clear();
        Close();
        log_.push_back("     closing: " + note_);
    }
    return failure_;
}

void Driver::Execute(const Step& step) {
    switch (step.op) {
        case Op::Announce:
        case Op::AllocAnnounce:
            return Announce(step.a, step.op == Op::AllocAnnounce);
        case Op::Queue:
            return Queue(step.a);
        case Op::Revoke:
            return Revoke(step.a);
        case Op::Flush:
            return Flush(static_cast<ACQ_QUEUE_TYPE>(step.a), false);
        case Op::Start:
            return Start(step.a);
        case Op::Stop:
            return Stop(static_cast<ACQ_STOP_FLAGS>(step.a));
        case Op::CleanStop:
            return CleanStop();
        case Op::GetData:
            GetData(step.a);
            return;
        case Op::Consume:
            return Consume(step.a);
        case Op::Kill: {
            const GC_ERROR result = cti_.EventKill(event_);
            if (result != GC_ERR_SUCCESS)
                Fail(Invariant::Call, "EventKill failed with " + Error(result));
            model_.Killed();
            return;
        }
        case Op::KillWaiter:
            return KillWaiter();
        case Op::EventFlush:
            return Flush(ACQ_QUEUE_OUTPUT_DISCARD, true);
        case Op::Reopen:
            return Reopen();
        case Op::CameraStart:
        case Op::CameraStop:
            return CameraAcquisition(step.op == Op::CameraStart);
        case Op::ToggleResend:
        case Op::ToggleZeroCopy:
            if (model_.Acquiring()) return Note("skipped while acquiring");
            if (step.op == Op::ToggleResend) {
                resend_ = !resend_;
                WriteStreamRegister(kRegPacketResend, resend_);
                return Note(resend_ ? "resend on" : "resend off");
            }
            zeroCopy_ = !zeroCopy_;
            WriteStreamRegister(kRegUseUserBuffer, zeroCopy_);
            return Note(zeroCopy_ ? "zero-copy" : "copy");
    }
}

// ---- Buffers -----------------------------------------------------------------

void Driver::Announce(uint32_t sizeClass, bool producerMemory) {
    if (model_.Buffers().size() - model_.Count(Place::Revoked) >= kMaxBuffers)
        return Note("skipped: enough buffers");
    size_t size = payloadSize_;
    if (sizeClass == 1) size = payloadSize_ + 256;
    if (sizeClass == 2) size = payloadSize_ * 2;
    if (sizeClass == 3 && config_.smallBuffers)
        size = payloadSize_ - std::min<size_t>(512, payloadSize_ / 2);
    const size_t index = model_.Buffers().size();
    // The private pointer tells the buffers apart in the event data.
    void* privateData = reinterpret_cast<void*>(0x5000 + index);
    std::unique_ptr<std::vector<uint8_t>> memory;
    BUFFER_HANDLE handle = nullptr;
    GC_ERROR result;
    if (producerMemory) {
        result = cti_.DSAllocAndAnnounceBuffer(stream_, size, privateData, &handle);
    } else {
        memory = std::make_unique<std::vector<uint8_t>>(size);
        result = cti_.DSAnnounceBuffer(stream_, memory->data(), size, privateData, &handle);
    }
    if (result != GC_ERR_SUCCESS) {
        // While acquiring the producer may refuse.
        if (!model_.Acquiring()) Fail(Invariant::Call, "announcing failed with " + Error(result));
        return Note("refused with " + Error(result));
    }
    Buffer buffer;
    buffer.handle = handle;
    buffer.privateData = privateData;
    buffer.size = size;
    buffer.producerMemory = producerMemory;
    buffer.memory = memory ? memory->data() : nullptr;
    model_.Announced(buffer);
    consumerMemory_.push_back(std::move(memory));
    void* base = nullptr;
    if (BufferInfo(index, BUFFER_INFO_BASE, &base) != GC_ERR_SUCCESS || base == nullptr ||
        (!producerMemory && base != model_.At(index).memory)) {
        return Fail(Invariant::Call, "BUFFER_INFO_BASE of a new buffer is wrong");
    }
    model_.At(index).memory = static_cast<uint8_t*>(base);
    WriteCanary(index);
    Note("buffer " + std::to_string(index) + ", " + std::to_string(size) + " bytes");
}

void Driver::Queue(uint32_t pick) {
    const std::optional<size_t> index = model_.Pick(pick);
    if (!index) return Note("no buffer");
    QueueIndex(*index);
}

void Driver::QueueIndex(size_t index) {
    Buffer& buffer = model_.At(index);
    Note("buffer " + std::to_string(index) + " (" + Name(buffer.place) + ")");
    if (buffer.place == Place::Held && buffer.canary) VerifyCanary(index, "before DSQueueBuffer");
    Apply(model_.Queue(index, cti_.DSQueueBuffer(stream_, buffer.handle)));
}

void Driver::Revoke(uint32_t pick) {
    const std::optional<size_t> index = model_.Pick(pick);
    if (!index) return Note("no buffer");
    RevokeIndex(*index);
}

void Driver::RevokeIndex(size_t picked) {
    const std::optional<size_t> index = picked;
    Buffer& buffer = model_.At(*index);
    const Place before = buffer.place;
    Note("buffer " + std::to_string(*index) + " (" + Name(before) + ")");
    if (before == Place::Held && buffer.canary) VerifyCanary(*index, "before DSRevokeBuffer");
    void* memory = reinterpret_cast<void*>(1);
    void* privateData = nullptr;
    const GC_ERROR result = cti_.DSRevokeBuffer(stream_, buffer.handle, &memory, &privateData);
    Note(result == GC_ERR_SUCCESS ? "revoked" : "refused with " + Error(result));
    Apply(model_.Revoke(*index, result));
    if (result != GC_ERR_SUCCESS || before == Place::Revoked) return;
    // The consumer's memory comes back to it, the producer's is gone.
    void* expected = buffer.producerMemory ? nullptr : buffer.memory;
    if (memory != expected || privateData != buffer.privateData)
        Fail(Invariant::Revoke, "DSRevokeBuffer handed back the wrong memory or private pointer");
    if (buffer.producerMemory) {
        buffer.memory = nullptr;
        buffer.canary = false;
    }
}

void Driver::Flush(ACQ_QUEUE_TYPE mode, bool throughEvent) {
    std::vector<Place> before;
    for (const Buffer& buffer : model_.Buffers()) before.push_back(buffer.place);
    const GC_ERROR result =
        throughEvent ? cti_.EventFlush(event_) : cti_.DSFlushQueue(stream_, mode);
    if (result != GC_ERR_SUCCESS) {
        return Fail(Invariant::Call, std::string(throughEvent ? "EventFlush" : "DSFlushQueue") +
                                         " failed with " + Error(result));
    }
    ResolveOpen(model_.Flush(mode));
    // What a flush gave back comes to the consumer: from now on it is watched.
    size_t discarded = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] != Place::Held && model_.At(i).place == Place::Held) {
            WriteCanary(i);
            ++discarded;
        }
    }
    if (discarded > 0) Note(std::to_string(discarded) + " back to the consumer");
}

// ---- Acquisition -------------------------------------------------------------

void Driver::Start(uint32_t frames) {
    const bool wasAcquiring = model_.Acquiring();
    if (!wasAcquiring && !cameraRunning_ && !cameraFenced_) Fence();
    const Counters before = ReadCounters();
    const GevSim::StreamStatistics sent = camera_.StreamStats();
    const auto start = Clock::now();
    const GC_ERROR result = cti_.DSStartAcquisition(stream_, ACQ_START_FLAGS_DEFAULT,
                                                    frames == 0 ? GENTL_INFINITE : frames);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    if (took > stopLimit_ + options_.hangMargin)
        Fail(Invariant::Timing, "DSStartAcquisition took " + std::to_string(took.count()) + " ms");
    Note(result == GC_ERR_SUCCESS ? "started" : "refused with " + Error(result));
    Apply(model_.Started(result));
    if (result != GC_ERR_SUCCESS || wasAcquiring) return;
    bool8_t grabbing = 0;
    const Counters after = ReadCounters();
    if (StreamInfo(STREAM_INFO_IS_GRABBING, &grabbing) != GC_ERR_SUCCESS ||
        (!grabbing && !(frames != 0 && after.delivered - before.delivered >= frames))) {
        Fail(Invariant::Grabbing, "STREAM_INFO_IS_GRABBING is false after DSStartAcquisition");
    }
    Episode episode;
    episode.clean = frames == 0 && !cameraRunning_ && cameraFenced_;
    episode.frameLimit = frames;
    episode.sentBase = sent.blocksSent;
    episode.firstBlock = sent.blocksSent - sequenceSentBase_ + 1;
    episode.base = before;
    episode_ = episode;
}

void Driver::Stop(ACQ_STOP_FLAGS flags) {
    const bool wasAcquiring = model_.Acquiring();
    const auto start = Clock::now();
    const GC_ERROR result = cti_.DSStopAcquisition(stream_, flags);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    if (took > stopLimit_ + options_.hangMargin)
        Fail(Invariant::Timing, "DSStopAcquisition took " + std::to_string(took.count()) + " ms");
    Note(result == GC_ERR_SUCCESS ? "stopped" : "refused with " + Error(result));
    Apply(model_.Stopped(result));
    if (!wasAcquiring || result != GC_ERR_SUCCESS) return;
    bool8_t grabbing = 1;
    if (StreamInfo(STREAM_INFO_IS_GRABBING, &grabbing) != GC_ERR_SUCCESS || grabbing)
        Fail(Invariant::Grabbing, "STREAM_INFO_IS_GRABBING is true after DSStopAcquisition");
}

void Driver::CleanStop() {
    if (cameraRunning_) CameraAcquisition(false);
    if (!model_.Acquiring()) return Note("not acquiring");
    const bool counted = episode_ && episode_->clean && model_.EngineRunning();
    uint64_t sentAtWait = 0;
    if (counted) {
        // Every block the camera sent reaches the producer's counters: started
        // (then delivered or lost), lost for want of a buffer, or never seen.
        const Episode& episode = *episode_;
        Counters now;
        uint64_t need = 0;
        const bool seen = Await([&] {
            now = ReadCounters();
            const GevSim::StreamStatistics sent = camera_.StreamStats();
            sentAtWait = sent.blocksSent;
            need = sent.blocksSent - episode.sentBase -
                   InvisibleBlocks(episode.firstBlock, sent.blocksSent - sequenceSentBase_);
            return !now.complete || now.Seen() - episode.base.Seen() >= need;
        });
        if (!now.complete) {
            Fail(Invariant::Accounting, now.missing);
        } else if (!seen) {
            std::ostringstream out;
            out << "the camera stopped after " << need << " visible blocks, the producer saw "
                << now.Seen() - episode.base.Seen() << ": started "
                << now.started - episode.base.started << ", underrun "
                << now.underrun - episode.base.underrun << ", lost "
                << now.lost - episode.base.lost;
            Fail(Invariant::Accounting, out.str());
        }
    }
    Stop(ACQ_STOP_FLAGS_DEFAULT);
    Fence();
    if (counted && !Failed()) CheckCountersAfterEpisode(sentAtWait);
    episode_.reset();
}

std::optional<size_t> Driver::GetData(uint64_t timeoutMs) {
    uint8_t data[16] = {};
    size_t size = sizeof data;
    const auto start = Clock::now();
    const GC_ERROR result = cti_.EventGetData(event_, data, &size, timeoutMs);
    std::optional<size_t> delivered;
    Handle(result, data, size, Clock::now() - start, timeoutMs, &delivered);
    return delivered;
}

void Driver::Handle(GC_ERROR result, uint8_t* data, size_t size, Clock::duration took,
                    uint64_t timeoutMs, std::optional<size_t>* delivered) {
    if (took > milliseconds(timeoutMs) + options_.hangMargin) {
        Fail(Invariant::Timing,
             "EventGetData with " + std::to_string(timeoutMs) + " ms took " +
                 std::to_string(std::chrono::duration_cast<milliseconds>(took).count()) + " ms");
    }
    BUFFER_HANDLE handle = nullptr;
    void* privateData = nullptr;
    if (result == GC_ERR_SUCCESS) {
        if (size != 16)
            return Fail(Invariant::Call, "EventGetData gave " + std::to_string(size) + " bytes");
        std::memcpy(&handle, data, 8);
        std::memcpy(&privateData, data + 8, 8);
    }
    size_t index = 0;
    const Verdict verdict = model_.Waited(result, handle, privateData, &index);
    Apply(verdict);
    if (result != GC_ERR_SUCCESS)
        return Note(result == GC_ERR_TIMEOUT ? "time-out"
                    : result == GC_ERR_ABORT ? "aborted"
                                             : Error(result));
    if (verdict) return;
    ++stats_.deliveries;
    Note("buffer " + std::to_string(index));
    CheckDelivery(index);
    WriteCanary(index);
    *delivered = index;
}

void Driver::Consume(uint32_t frames) {
    uint32_t taken = 0;
    std::string last;
    for (uint32_t i = 0; i < frames && !Failed(); ++i) {
        note_.clear();
        const std::optional<size_t> index = GetData(100);
        if (index) QueueIndex(*index);
        last = note_;
        if (!index) break;
        ++taken;
    }
    note_ = std::to_string(taken) + " taken" + (last.empty() ? "" : ", the last: " + last);
}

void Driver::KillWaiter() {
    // The kill meets the waiter in its wait or before it: either way its wait ends.
    constexpr uint64_t kWait = 5000;
    uint8_t data[16] = {};
    size_t size = sizeof data;
    GC_ERROR result = GC_ERR_ERROR;
    Clock::duration took{};
    std::thread waiter([&] {
        const auto start = Clock::now();
        result = cti_.EventGetData(event_, data, &size, kWait);
        took = Clock::now() - start;
    });
    const GC_ERROR killed = cti_.EventKill(event_);
    waiter.join();
    if (killed != GC_ERR_SUCCESS)
        return Fail(Invariant::Call, "EventKill failed with " + Error(killed));
    // With a buffer already queued the wait may end with it before the kill comes:
    // the kill then ends the next wait instead.
    const bool endedByKill = result == GC_ERR_ABORT;
    if (endedByKill) model_.Killed();
    std::optional<size_t> delivered;
    Handle(result, data, size, took, kWait, &delivered);
    if (!endedByKill) model_.Killed();
}

void Driver::CameraAcquisition(bool start) {
    try {
        rig_.cameraApi->Execute(start ? "AcquisitionStart" : "AcquisitionStop");
    } catch (const std::exception& e) {
        return Fail(Invariant::Call, std::string("camera command failed: ") + e.what());
    }
    cameraRunning_ = start;
    cameraFenced_ = false;
    if (!start && !model_.Acquiring()) Fence();
}

// The camera's stream thread serves test packet requests at the top of its loop,
// before it sends a block by the state it read there, and blocks under 16 packets
// are never interrupted to serve one. Two requests served one after the other
// prove that a loop began after the stop: no block is under way, none will come.
void Driver::Fence() {
    namespace B = GevSim::Bootstrap;
    const uint32_t port = camera_.Register(B::kScp0);
    camera_.SetRegister(B::kScp0, kDeadPort);
    for (int i = 0; i < 2 && !Failed(); ++i) {
        const uint64_t before = camera_.StreamStats().testPackets;
        const uint32_t scps =
            (camera_.Register(B::kScps0) & B::kScpsPacketSizeMask) | B::kScpsFireTestPacket;
        const uint8_t bytes[4] = {uint8_t(scps >> 24), uint8_t(scps >> 16), uint8_t(scps >> 8),
                                  uint8_t(scps)};
        size_t size = sizeof bytes;
        if (cti_.GCWritePort(rig_.remote, B::kScps0, bytes, &size) != GC_ERR_SUCCESS ||
            !Await([&] { return camera_.StreamStats().testPackets > before; })) {
            Fail(Invariant::Call, "the camera sent no test packet");
        }
    }
    camera_.SetRegister(B::kScp0, port);
    cameraFenced_ = true;
}

// ---- The stream itself -------------------------------------------------------

void Driver::WriteStreamRegister(uint64_t address, uint32_t value) {
    size_t size = sizeof value;
    const GC_ERROR result = cti_.GCWritePort(stream_, address, &value, &size);
    if (result != GC_ERR_SUCCESS)
        Fail(Invariant::Call, "stream register write failed with " + Error(result));
}

void Driver::OpenStream() {
    sentAtOpen_ = camera_.StreamStats().blocksSent;
    GC_ERROR result = cti_.DevOpenDataStream(rig_.device, "DS0", &stream_);
    if (result != GC_ERR_SUCCESS) {
        stream_ = nullptr;
        return Fail(Invariant::Call, "DevOpenDataStream failed with " + Error(result));
    }
    result = cti_.GCRegisterEvent(stream_, EVENT_NEW_BUFFER, &event_);
    if (result != GC_ERR_SUCCESS)
        return Fail(Invariant::Call, "GCRegisterEvent failed with " + Error(result));
    WriteStreamRegister(kRegUseUserBuffer, zeroCopy_);
    WriteStreamRegister(kRegPacketResend, resend_);
    uint32_t imageTimeout = 0;
    size_t size = sizeof imageTimeout;
    if (cti_.GCReadPort(stream_, kRegImageTimeout, &imageTimeout, &size) == GC_ERR_SUCCESS)
        stopLimit_ = milliseconds(std::max<uint32_t>(imageTimeout, 1000));
    model_.StreamOpened();
    lastCounters_ = Counters{};
    episode_.reset();
}

void Driver::CloseStream() {
    const GC_ERROR result = cti_.DSClose(stream_);
    stream_ = nullptr;
    event_ = nullptr;
    if (result != GC_ERR_SUCCESS) Fail(Invariant::Call, "DSClose failed with " + Error(result));
    // Whatever the stream had of the consumer's memory is the consumer's again,
    // and nothing may write into it from now on.
    for (size_t i = 0; i < model_.Buffers().size(); ++i) {
        Buffer& buffer = model_.At(i);
        if (buffer.place == Place::Revoked) continue;
        if (buffer.producerMemory) {
            buffer.memory = nullptr;
            buffer.canary = false;
        } else if (!(buffer.place == Place::Held && buffer.canary)) {
            WriteCanary(i);
        }
    }
    model_.StreamClosed();
    episode_.reset();
}

void Driver::Reopen() {
    CloseStream();
    if (!Failed()) OpenStream();
}

// The end of a sequence: everything stopped, given back and revoked, the stream
// closed, and every byte the consumer kept still as it left it.
void Driver::Close() {
    if (cameraRunning_) CameraAcquisition(false);
    if (model_.Acquiring()) Stop(ACQ_STOP_FLAGS_DEFAULT);
    if (!cameraFenced_) Fence();
    if (Failed()) return;
    Flush(ACQ_QUEUE_ALL_DISCARD, false);
    CheckPlaces();
    for (size_t i = 0; i < model_.Buffers().size() && !Failed(); ++i) {
        const Buffer& buffer = model_.At(i);
        if (buffer.place == Place::Revoked) continue;
        if (buffer.canary) VerifyCanary(i, "before DSRevokeBuffer");
        RevokeIndex(i);
    }
    if (Failed()) return;
    CloseStream();
    for (size_t i = 0; i < model_.Buffers().size(); ++i)
        if (model_.At(i).canary && model_.At(i).memory != nullptr)
            VerifyCanary(i, "at the end of the sequence");
}

}  // namespace ConsumerModel
