// The reference model of one data stream as its consumer sees it: where every
// announced buffer is, what the acquisition engine may still do with it, and
// the kills pending on the new-buffer event. Pure bookkeeping on one thread:
// the driver makes each call and hands the model the result; the model applies
// the rule and answers with the first one the result breaks.
//
// The engine runs beside the consumer, so a queued buffer's place is not known
// exactly while it runs: "with the producer" covers the input pool, being
// filled and, once filled, the output queue. What the engine cannot do is
// settled: it never takes a buffer from the consumer, never fills a buffer
// that was not queued, and a buffer flushed to the output queue stays there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "GenTL.h"

namespace ConsumerModel {

// The rules, by name, so that a hunt can leave some out (GEVTLKRV_MODEL_IGNORE).
enum class Invariant {
    Canary,        // nothing writes into a buffer the consumer holds or revoked
    Delivery,      // a buffer is delivered once per queueing, after it was queued
    NewData,       // BUFFER_INFO_NEW_DATA exactly when the engine filled the buffer
    Placement,     // queue counts and flags match where the buffers are
    Revoke,        // revoking succeeds exactly for held buffers while not acquiring
    Geometry,      // what a buffer describes fits in it
    Completeness,  // IS_INCOMPLETE exactly when bytes are missing
    FrameOrder,    // frame IDs rise within an acquisition; no block twice
    Accounting,    // the stream counters add up to the blocks the camera sent
    Grabbing,      // STREAM_INFO_IS_GRABBING follows start, frame count and stop
    Timing,        // no call blocks much longer than its time-out
    Event,         // EventKill and time-outs of EventGetData
    Call,          // a call that must succeed (or fail) did not
};
constexpr int kInvariantCount = 13;
const char* Name(Invariant invariant);
std::optional<Invariant> InvariantNamed(const std::string& name);

struct Violation {
    Invariant invariant;
    std::string text;
};
using Verdict = std::optional<Violation>;

enum class Place {
    Held,      // with the consumer: announced, delivered, or discarded by a flush
    Producer,  // queued: input pool, being filled, or the output queue once filled
    Output,    // in the output queue for certain: flushed there, unfilled since
    Revoked,
};
const char* Name(Place place);

struct Buffer {
    GenTL::BUFFER_HANDLE handle = nullptr;
    void* privateData = nullptr;
    size_t size = 0;
    bool producerMemory = false;
    uint8_t* memory = nullptr;  // the consumer's memory, or BUFFER_INFO_BASE
    Place place = Place::Held;
    bool fillable = false;     // queued while the engine ran: may hold a new image
    bool canary = false;       // holds the canary pattern the consumer wrote
    uint64_t outputBatch = 0;  // the flush that put it in the output queue
};

class Model {
public:
    // A fresh stream: the buffers of the last one are gone with it.
    void StreamOpened();
    void StreamClosed();
    size_t Announced(const Buffer& buffer);
    Buffer& At(size_t index) { return buffers_[index]; }
    const std::vector<Buffer>& Buffers() const { return buffers_; }
    size_t Count(Place place) const;
    // A live buffer picked by a step; none when nothing is announced.
    std::optional<size_t> Pick(uint32_t pick) const;

    Verdict Queue(size_t index, GenTL::GC_ERROR result);
    Verdict Revoke(size_t index, GenTL::GC_ERROR result);
    // Applies the flush (EventFlush is OUTPUT_DISCARD) and returns the buffers it
    // may have discarded: those the engine may have moved to the output queue.
    std::vector<size_t> Flush(GenTL::ACQ_QUEUE_TYPE mode);
    // What the consumer saw of a buffer Flush left open.
    void Resolve(size_t index, bool withProducer);

    Verdict Started(GenTL::GC_ERROR result);
    Verdict Stopped(GenTL::GC_ERROR result);
    // STREAM_INFO_IS_GRABBING fell after the frames asked for: nothing is filled any more.
    void EngineEnded();
    bool Acquiring() const { return acquiring_; }
    bool EngineRunning() const { return acquiring_ && engineRunning_; }
    uint32_t Acquisition() const { return acquisition_; }

    void Killed();
    // An EventGetData result; on success `index` names the buffer, now held.
    Verdict Waited(GenTL::GC_ERROR result, GenTL::BUFFER_HANDLE handle, void* privateData,
                   size_t* index);

private:
    void ToProducer(Buffer& buffer);
    void ToHeld(Buffer& buffer);
    std::optional<size_t> Find(GenTL::BUFFER_HANDLE handle) const;

    std::vector<Buffer> buffers_;
    bool acquiring_ = false;
    bool engineRunning_ = false;
    uint32_t acquisition_ = 0;
    uint64_t batch_ = 0;
    // Kills not yet used up: at least killMin_ waits end in GC_ERR_ABORT, at most killMax_.
    int killMin_ = 0;
    int killMax_ = 0;
};

}  // namespace ConsumerModel
