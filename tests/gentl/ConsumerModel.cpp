#include "ConsumerModel.h"

#include <algorithm>
#include <sstream>

namespace ConsumerModel {

using namespace GenTL;

namespace {

const char* const kInvariantNames[kInvariantCount] = {
    "canary",      "delivery",   "new-data", "placement", "revoke", "geometry", "completeness",
    "frame-order", "accounting", "grabbing", "timing",    "event",  "call"};

Violation Broken(Invariant invariant, const std::string& text) {
    return Violation{invariant, text};
}

std::string Describe(size_t index, const Buffer& buffer) {
    std::ostringstream out;
    out << "buffer " << index << " (" << Name(buffer.place) << ")";
    return out.str();
}

}  // namespace

const char* Name(Invariant invariant) {
    return kInvariantNames[static_cast<int>(invariant)];
}

std::optional<Invariant> InvariantNamed(const std::string& name) {
    for (int i = 0; i < kInvariantCount; ++i)
        if (name == kInvariantNames[i]) return static_cast<Invariant>(i);
    return std::nullopt;
}

const char* Name(Place place) {
    switch (place) {
        case Place::Held:
            return "held";
        case Place::Producer:
            return "queued";
        case Place::Output:
            return "output queue";
        case Place::Revoked:
            return "revoked";
    }
    return "?";
}

void Model::StreamOpened() {
    acquiring_ = engineRunning_ = false;
    killMin_ = killMax_ = 0;
}

void Model::StreamClosed() {
    for (Buffer& buffer : buffers_) buffer.place = Place::Revoked;
    acquiring_ = engineRunning_ = false;
    killMin_ = killMax_ = 0;
}

size_t Model::Announced(const Buffer& buffer) {
    buffers_.push_back(buffer);
    buffers_.back().place = Place::Held;
    return buffers_.size() - 1;
}

size_t Model::Count(Place place) const {
    return static_cast<size_t>(std::count_if(buffers_.begin(), buffers_.end(),
                                             [&](const Buffer& b) { return b.place == place; }));
}

std::optional<size_t> Model::Pick(uint32_t pick) const {
    std::vector<size_t> live;
    for (size_t i = 0; i < buffers_.size(); ++i)
        if (buffers_[i].place != Place::Revoked) live.push_back(i);
    // Now and then a revoked one, which every call must refuse.
    if (pick % 16 == 15 && live.size() < buffers_.size()) {
        // Not one whose handle a newer buffer took over.
        for (size_t i = 0; i < buffers_.size(); ++i)
            if (buffers_[i].place == Place::Revoked && !Find(buffers_[i].handle)) return i;
    }
    if (live.empty()) return std::nullopt;
    return live[pick % live.size()];
}

void Model::ToProducer(Buffer& buffer) {
    buffer.place = Place::Producer;
    if (engineRunning_) {
        buffer.fillable = true;
        buffer.canary = false;
    }
}

void Model::ToHeld(Buffer& buffer) {
    buffer.place = Place::Held;
    buffer.fillable = false;
}

Verdict Model::Queue(size_t index, GC_ERROR result) {
    Buffer& buffer = buffers_[index];
    if (buffer.place == Place::Revoked) {
        if (result == GC_ERR_SUCCESS)
            return Broken(Invariant::Placement, "DSQueueBuffer accepted a revoked buffer");
        return std::nullopt;
    }
    if (result != GC_ERR_SUCCESS) {
        std::ostringstream out;
        out << "DSQueueBuffer of " << Describe(index, buffer) << " failed with " << result;
        return Broken(Invariant::Placement, out.str());
    }
    // From the output queue back to the pool; in the pool or being filled: no change.
    if (buffer.place != Place::Producer) ToProducer(buffer);
    return std::nullopt;
}

Verdict Model::Revoke(size_t index, GC_ERROR result) {
    Buffer& buffer = buffers_[index];
    const bool revoked = result == GC_ERR_SUCCESS;
    std::ostringstream out;
    out << "DSRevokeBuffer of " << Describe(index, buffer);
    if (buffer.place == Place::Held) {
        // While acquiring the producer may refuse; afterwards a held buffer goes.
        if (!revoked && !acquiring_) {
            out << " failed with " << result << " while not acquiring";
            return Broken(Invariant::Revoke, out.str());
        }
        if (revoked) buffer.place = Place::Revoked;
        return std::nullopt;
    }
    if (revoked) {
        out << " succeeded";
        buffer.place = Place::Revoked;
        return Broken(Invariant::Revoke, out.str());
    }
    return std::nullopt;
}

std::vector<size_t> Model::Flush(ACQ_QUEUE_TYPE mode) {
    std::vector<size_t> open;
    for (size_t i = 0; i < buffers_.size(); ++i) {
        Buffer& buffer = buffers_[i];
        switch (mode) {
            case ACQ_QUEUE_INPUT_TO_OUTPUT:
                // Only with the engine stopped is every queued buffer in the output queue.
                if (buffer.place == Place::Producer && !engineRunning_) {
                    buffer.place = Place::Output;
                    buffer.outputBatch = batch_ + 1;
                }
                break;
            case ACQ_QUEUE_OUTPUT_DISCARD:
                if (buffer.place == Place::Output) ToHeld(buffer);
                if (buffer.place == Place::Producer && buffer.fillable) open.push_back(i);
                break;
            case ACQ_QUEUE_ALL_TO_INPUT:
                if (buffer.place == Place::Held || buffer.place == Place::Output)
                    ToProducer(buffer);
                break;
            case ACQ_QUEUE_UNQUEUED_TO_INPUT:
                if (buffer.place == Place::Held) ToProducer(buffer);
                break;
            case ACQ_QUEUE_ALL_DISCARD:
                if (buffer.place == Place::Output) ToHeld(buffer);
                if (buffer.place == Place::Producer) {
                    // A buffer being filled stays; with the engine stopped none is.
                    if (engineRunning_)
                        open.push_back(i);
                    else
                        ToHeld(buffer);
                }
                break;
            default:
                break;
        }
    }
    if (mode == ACQ_QUEUE_INPUT_TO_OUTPUT) ++batch_;
    return open;
}

void Model::Resolve(size_t index, bool withProducer) {
    if (!withProducer) ToHeld(buffers_[index]);
}

Verdict Model::Started(GC_ERROR result) {
    const size_t live = buffers_.size() - Count(Place::Revoked);
    if (acquiring_ || live == 0) {
        if (result == GC_ERR_SUCCESS)
            return Broken(Invariant::Call, acquiring_
                                               ? "a second DSStartAcquisition succeeded"
                                               : "DSStartAcquisition without buffers succeeded");
        return std::nullopt;
    }
    if (result != GC_ERR_SUCCESS) {
        std::ostringstream out;
        out << "DSStartAcquisition failed with " << result;
        return Broken(Invariant::Call, out.str());
    }
    acquiring_ = engineRunning_ = true;
    ++acquisition_;
    for (Buffer& buffer : buffers_)
        if (buffer.place == Place::Producer) ToProducer(buffer);
    // Whether a kill survives a start is the producer's choice.
    killMin_ = 0;
    return std::nullopt;
}

Verdict Model::Stopped(GC_ERROR result) {
    if (!acquiring_) return std::nullopt;  // refused or not: nothing changes
    if (result != GC_ERR_SUCCESS) {
        std::ostringstream out;
        out << "DSStopAcquisition failed with " << result;
        return Broken(Invariant::Call, out.str());
    }
    acquiring_ = engineRunning_ = false;
    return std::nullopt;
}

void Model::EngineEnded() {
    engineRunning_ = false;
}

void Model::Killed() {
    killMin_ = std::max(killMin_, 1);
    ++killMax_;
}

std::optional<size_t> Model::Find(BUFFER_HANDLE handle) const {
    for (size_t i = 0; i < buffers_.size(); ++i)
        if (buffers_[i].handle == handle && buffers_[i].place != Place::Revoked) return i;
    return std::nullopt;
}

Verdict Model::Waited(GC_ERROR result, BUFFER_HANDLE handle, void* privateData, size_t* index) {
    std::ostringstream out;
    if (result == GC_ERR_ABORT) {
        if (killMax_ == 0) return Broken(Invariant::Event, "EventGetData aborted without a kill");
        killMin_ = std::max(0, killMin_ - 1);
        --killMax_;
        return std::nullopt;
    }
    if (killMin_ > 0) {
        out << "EventGetData after EventKill returned " << result << ", not GC_ERR_ABORT";
        return Broken(Invariant::Event, out.str());
    }
    if (result == GC_ERR_TIMEOUT) {
        if (Count(Place::Output) == 0) return std::nullopt;
        out << "EventGetData timed out with " << Count(Place::Output)
            << " buffers in the output queue";
        return Broken(Invariant::Event, out.str());
    }
    if (result != GC_ERR_SUCCESS) {
        out << "EventGetData failed with " << result;
        return Broken(Invariant::Call, out.str());
    }
    const std::optional<size_t> found = Find(handle);
    if (!found) {
        out << "EventGetData delivered " << handle << ", not a buffer of the stream";
        return Broken(Invariant::Delivery, out.str());
    }
    *index = *found;
    Buffer& buffer = buffers_[*found];
    out << "EventGetData delivered " << Describe(*found, buffer);
    if (buffer.privateData != privateData) {
        out << " with private pointer " << privateData << ", announced " << buffer.privateData;
        return Broken(Invariant::Delivery, out.str());
    }
    if (buffer.place == Place::Held) {
        out << ": not queued since it came to the consumer";
        return Broken(Invariant::Delivery, out.str());
    }
    if (buffer.place == Place::Producer && !buffer.fillable) {
        out << ": in the input pool and never open to the engine";
        return Broken(Invariant::Delivery, out.str());
    }
    if (buffer.place == Place::Output) {
        for (const Buffer& other : buffers_) {
            if (other.place == Place::Output && other.outputBatch < buffer.outputBatch) {
                out << " ahead of buffers flushed to the output queue before it";
                return Broken(Invariant::Delivery, out.str());
            }
        }
    }
    buffer.place = Place::Held;
    return std::nullopt;
}

}  // namespace ConsumerModel
