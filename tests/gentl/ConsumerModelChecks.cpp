// The rules checked after each step and on each delivered buffer.
#include <cstring>
#include <sstream>
#include <thread>

#include "ConsumerModelDriver.h"
#include "GEVTLKRVInfo.h"
#include "GvspBlock.h"
#include "StreamPayload.h"

namespace ConsumerModel {

using namespace GenTL;

namespace {

uint8_t CanaryByte(size_t index, size_t i) {
    return static_cast<uint8_t>(0xA5 ^ (i * 151 + index * 53 + (i >> 9)));
}

std::string Hex(unsigned value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

// What a delivered buffer says about its content.
struct Described {
    size_t payloadType = 0, sizeFilled = 0, width = 0, height = 0, xPadding = 0, yPadding = 0;
    size_t imageOffset = 0, chunkPayload = 0;
    uint64_t frameId = 0, pixelFormat = 0;
    bool8_t incomplete = 0;
};

}  // namespace

// ---- Canary ------------------------------------------------------------------

void Driver::WriteCanary(size_t index) {
    Buffer& buffer = model_.At(index);
    if (buffer.memory == nullptr) return;
    for (size_t i = 0; i < buffer.size; ++i) buffer.memory[i] = CanaryByte(index, i);
    buffer.canary = true;
}

bool Driver::CanaryIntact(size_t index) const {
    const Buffer& buffer = model_.Buffers()[index];
    for (size_t i = 0; i < buffer.size; ++i)
        if (buffer.memory[i] != CanaryByte(index, i)) return false;
    return true;
}

void Driver::VerifyCanary(size_t index, const char* when) {
    const Buffer& buffer = model_.Buffers()[index];
    if (buffer.memory == nullptr) return;
    for (size_t i = 0; i < buffer.size; ++i) {
        if (buffer.memory[i] == CanaryByte(index, i)) continue;
        std::ostringstream out;
        out << "buffer " << index << " (" << Name(buffer.place) << ", "
            << (buffer.producerMemory ? "producer" : "consumer") << " memory) was written " << when
            << ": byte " << i << " of " << buffer.size << " is " << Hex(buffer.memory[i])
            << ", the consumer left " << Hex(CanaryByte(index, i));
        return Fail(Invariant::Canary, out.str());
    }
}

// ---- Places and counters -----------------------------------------------------

void Driver::ResolveOpen(const std::vector<size_t>& open) {
    for (size_t index : open) {
        // A buffer moves only onwards: pool, being filled, output queue. One still
        // with the producer shows in one of three looks taken in this order.
        bool8_t queued = 0, acquiring = 0, queuedAgain = 0;
        GC_ERROR result = BufferInfo(index, BUFFER_INFO_IS_QUEUED, &queued);
        if (model_.EngineRunning() && result == GC_ERR_SUCCESS && !queued) {
            result = BufferInfo(index, BUFFER_INFO_IS_ACQUIRING, &acquiring);
            if (result == GC_ERR_SUCCESS && !acquiring)
                result = BufferInfo(index, BUFFER_INFO_IS_QUEUED, &queuedAgain);
        }
        if (result != GC_ERR_SUCCESS)
            return Fail(Invariant::Call,
                        "buffer flags after a flush answer " + std::to_string(result));
        model_.Resolve(index, queued || acquiring || queuedAgain);
    }
}

Driver::Counters Driver::ReadCounters() {
    Counters counters;
    counters.complete = true;
    auto read = [&](STREAM_INFO_CMD command, const char* name, uint64_t* value) {
        const GC_ERROR result = StreamInfo(command, value);
        if (result != GC_ERR_SUCCESS && counters.complete) {
            counters.complete = false;
            counters.missing = std::string(name) + " answers " + std::to_string(result);
        }
    };
    read(STREAM_INFO_NUM_DELIVERED, "STREAM_INFO_NUM_DELIVERED", &counters.delivered);
    read(STREAM_INFO_NUM_UNDERRUN, "STREAM_INFO_NUM_UNDERRUN", &counters.underrun);
    read(STREAM_INFO_NUM_STARTED, "STREAM_INFO_NUM_STARTED", &counters.started);
    read(static_cast<STREAM_INFO_CMD>(STREAM_INFO_GEVTLKRV_LOST_FRAMES),
         "STREAM_INFO_GEVTLKRV_LOST_FRAMES", &counters.lost);
    read(static_cast<STREAM_INFO_CMD>(STREAM_INFO_GEVTLKRV_INCOMPLETE_FRAMES),
         "STREAM_INFO_GEVTLKRV_INCOMPLETE_FRAMES", &counters.incomplete);
    return counters;
}

// Blocks of which the camera sends no packet at all in first transmission: no
// producer can tell them from blocks never sent. Only the ratio loses whole blocks.
uint64_t Driver::InvisibleBlocks(uint64_t first, uint64_t last) {
    if (config_.dropRatio <= 0) return 0;
    uint64_t invisible = 0;
    for (uint64_t block = first; block <= last; ++block) {
        if (blockInvisible_.size() <= block) blockInvisible_.resize(block + 64, 0);
        if (blockInvisible_[block] == 0) {
            const uint32_t trailerId = TrailerIdOf(block);
            const GevSim::StreamFaults::BlockPlan plan =
                camera_.faults().Stream().Plan(block, trailerId);
            bool all = true;
            for (uint32_t packet = 0; packet <= trailerId && all; ++packet)
                all = plan.Drops(packet, false);
            blockInvisible_[block] = all ? 2 : 1;
        }
        if (blockInvisible_[block] == 2) ++invisible;
    }
    return invisible;
}

std::string Driver::PacketFaults(uint64_t block) {
    const uint32_t trailerId = TrailerIdOf(block);
    const GevSim::StreamFaults::BlockPlan plan = camera_.faults().Stream().Plan(block, trailerId);
    std::ostringstream out;
    out << " (the camera sent packets 0.." << trailerId;
    std::string dropped, duplicated;
    for (uint32_t packet = 0; packet <= trailerId; ++packet) {
        if (plan.Drops(packet, false)) dropped += " " + std::to_string(packet);
        if (plan.Duplicated(packet)) duplicated += " " + std::to_string(packet);
    }
    if (!dropped.empty()) out << ", dropped" << dropped;
    if (!duplicated.empty()) out << ", twice" << duplicated;
    for (const auto& [first, second] : plan.swaps) out << ", " << first << " after " << second;
    out << ")";
    return out.str();
}

bool Driver::FrameLost(uint64_t block) {
    const uint32_t trailerId = TrailerIdOf(block);
    const GevSim::StreamFaults::BlockPlan plan = camera_.faults().Stream().Plan(block, trailerId);
    return plan.Drops(0, false) || plan.Drops(trailerId, false);
}

bool Driver::BothEndsLost(uint64_t block) {
    const uint32_t trailerId = TrailerIdOf(block);
    const GevSim::StreamFaults::BlockPlan plan = camera_.faults().Stream().Plan(block, trailerId);
    return plan.Drops(0, false) && plan.Drops(trailerId, false);
}

GevSim::StreamFormat Driver::Format() const {
    const PayloadKind& kind = *config_.payload;
    GevSim::StreamFormat format;
    format.payloadType = kind.gvsp;
    format.width = config_.width;
    format.height = config_.height;
    format.paddingX = kind.image && config_.paddedCamera ? kCameraPadding : 0;
    return format;
}

uint32_t Driver::TrailerIdOf(uint64_t block) {
    if (trailerIds_.size() <= block) trailerIds_.resize(block + 64, 0);
    if (trailerIds_[block] == 0) {
        GevSim::PacketGeometry geometry;
        geometry.dataBytesPerPacket = dataBytes_;
        trailerIds_[block] =
            GevSim::GvspBlock(block, GevSim::StreamPayload::Build(Format(), block, 0, 0), geometry)
                .TrailerId();
    }
    return trailerIds_[block];
}

void Driver::CheckFrameLimit() {
    if (!episode_ || episode_->frameLimit == 0 || !model_.EngineRunning()) return;
    uint64_t delivered = 0;
    if (StreamInfo(STREAM_INFO_NUM_DELIVERED, &delivered) != GC_ERR_SUCCESS) return;
    const uint64_t limit = episode_->frameLimit;
    delivered -= episode_->base.delivered;
    std::ostringstream out;
    if (delivered > limit) {
        out << "delivered " << delivered << " frames of an acquisition started for " << limit;
        return Fail(Invariant::Grabbing, out.str());
    }
    if (delivered < limit) return;
    bool8_t grabbing = 1;
    const bool ended = [&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            if (StreamInfo(STREAM_INFO_IS_GRABBING, &grabbing) != GC_ERR_SUCCESS) return false;
            if (!grabbing) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }();
    if (!ended) {
        out << "STREAM_INFO_IS_GRABBING stays true after the " << limit << " frames asked for";
        return Fail(Invariant::Grabbing, out.str());
    }
    model_.EngineEnded();
    Note("the engine ended after " + std::to_string(limit) + " frames");
}

void Driver::CheckPlaces() {
    if (stream_ == nullptr) return;
    CheckFrameLimit();
    for (size_t i = 0; i < model_.Buffers().size() && !Failed(); ++i) {
        const Buffer& buffer = model_.At(i);
        if (buffer.place == Place::Revoked) continue;
        bool8_t queued = 0;
        const GC_ERROR result = BufferInfo(i, BUFFER_INFO_IS_QUEUED, &queued);
        if (result != GC_ERR_SUCCESS)
            return Fail(Invariant::Call, "BUFFER_INFO_IS_QUEUED answers " + std::to_string(result));
        // With the engine stopped a queued buffer is in the pool or the output queue.
        const bool settled = buffer.place != Place::Producer || !model_.EngineRunning();
        const bool expected = buffer.place != Place::Held;
        if (settled && bool(queued) != expected) {
            std::ostringstream out;
            out << "BUFFER_INFO_IS_QUEUED is " << (queued ? "true" : "false") << " for buffer " << i
                << " (" << Name(buffer.place) << ")";
            return Fail(Invariant::Placement, out.str());
        }
        if (buffer.place == Place::Held && buffer.canary)
            VerifyCanary(i, "while the consumer held it");
    }
    if (Failed()) return;

    // The output queue only grows by itself: read it first, then the pool.
    size_t awaiting = 0, queued = 0, announced = 0;
    if (StreamInfo(STREAM_INFO_NUM_AWAIT_DELIVERY, &awaiting) != GC_ERR_SUCCESS ||
        StreamInfo(STREAM_INFO_NUM_QUEUED, &queued) != GC_ERR_SUCCESS ||
        StreamInfo(STREAM_INFO_NUM_ANNOUNCED, &announced) != GC_ERR_SUCCESS)
        return Fail(Invariant::Call, "DSGetInfo of the queue counts failed");
    const size_t withProducer = model_.Count(Place::Producer);
    const size_t output = model_.Count(Place::Output);
    const size_t live = model_.Buffers().size() - model_.Count(Place::Revoked);
    const bool exact = !model_.EngineRunning();
    if (announced != live || awaiting < output || awaiting + queued > withProducer + output ||
        (exact && awaiting + queued != withProducer + output)) {
        std::ostringstream out;
        out << "NUM_ANNOUNCED " << announced << ", NUM_AWAIT_DELIVERY " << awaiting
            << ", NUM_QUEUED " << queued << "; the model has " << live << " announced, " << output
            << " in the output queue, " << withProducer << " queued"
            << (exact ? " (engine stopped)" : "");
        return Fail(Invariant::Placement, out.str());
    }

    bool8_t grabbing = 0;
    if (!model_.Acquiring() && StreamInfo(STREAM_INFO_IS_GRABBING, &grabbing) == GC_ERR_SUCCESS &&
        grabbing)
        return Fail(Invariant::Grabbing, "STREAM_INFO_IS_GRABBING is true while not acquiring");

    // The producer's counters only grow, and never count more frames than were sent.
    Counters now;
    StreamInfo(STREAM_INFO_NUM_DELIVERED, &now.delivered);
    StreamInfo(STREAM_INFO_NUM_UNDERRUN, &now.underrun);
    StreamInfo(STREAM_INFO_NUM_STARTED, &now.started);
    const bool lostKnown =
        StreamInfo(static_cast<STREAM_INFO_CMD>(STREAM_INFO_GEVTLKRV_LOST_FRAMES), &now.lost) ==
        GC_ERR_SUCCESS;
    const uint64_t sent = camera_.StreamStats().blocksSent - sentAtOpen_;
    std::ostringstream out;
    if (now.delivered < lastCounters_.delivered || now.underrun < lastCounters_.underrun ||
        now.started < lastCounters_.started || now.lost < lastCounters_.lost) {
        out << "a stream counter went down: delivered " << lastCounters_.delivered << " -> "
            << now.delivered << ", underrun " << lastCounters_.underrun << " -> " << now.underrun
            << ", started " << lastCounters_.started << " -> " << now.started;
        return Fail(Invariant::Accounting, out.str());
    }
    if (now.delivered + now.underrun + (lostKnown ? now.lost : 0) > sent) {
        out << "the stream counts delivered " << now.delivered << " + underrun " << now.underrun
            << (lostKnown ? " + lost " + std::to_string(now.lost) : "")
            << " frames, the camera sent " << sent << " blocks since the stream opened";
        return Fail(Invariant::Accounting, out.str());
    }
    lastCounters_ = now;
}

void Driver::CheckCountersAfterEpisode(uint64_t sentAtWait) {
    const Episode& episode = *episode_;
    const Counters now = ReadCounters();
    if (!now.complete) return Fail(Invariant::Accounting, now.missing);
    const GevSim::StreamStatistics sent = camera_.StreamStats();
    const uint64_t invisible =
        InvisibleBlocks(episode.firstBlock, sent.blocksSent - sequenceSentBase_);
    // A block the camera began just as it was stopped may have come after the wait.
    const uint64_t high = sent.blocksSent - episode.sentBase;
    const uint64_t atWait = sentAtWait - episode.sentBase;
    const uint64_t low = atWait > invisible ? atWait - invisible : 0;
    const uint64_t delivered = now.delivered - episode.base.delivered;
    const uint64_t underrun = now.underrun - episode.base.underrun;
    const uint64_t lost = now.lost - episode.base.lost;
    const uint64_t started = now.started - episode.base.started;
    const uint64_t incomplete = now.incomplete - episode.base.incomplete;
    std::ostringstream out;
    out << "delivered " << delivered << " + underrun " << underrun << " + lost " << lost
        << " frames (started " << started << ", incomplete " << incomplete << "), the camera sent "
        << high << " blocks"
        << (invisible ? ", " + std::to_string(invisible) + " of them unseen" : "");
    const uint64_t accounted = delivered + underrun + lost;
    if (accounted < low || accounted > high) return Fail(Invariant::Accounting, out.str());
    if (started < delivered || started > delivered + lost)
        return Fail(Invariant::Accounting,
                    "started frames neither delivered nor lost: " + out.str());
    if (incomplete > delivered || incomplete < episode.incomplete || episode.images > delivered) {
        out << "; the consumer took " << episode.images << " images, " << episode.incomplete
            << " incomplete";
        return Fail(Invariant::Accounting, out.str());
    }
    ++stats_.cleanEnds;
    Note(out.str());
}

// ---- A delivered buffer ------------------------------------------------------

void Driver::CheckDelivery(size_t index) {
    Buffer& buffer = model_.At(index);
    size_t size = 0;
    bool8_t newData = 0;
    if (BufferInfo(index, BUFFER_INFO_SIZE, &size) != GC_ERR_SUCCESS || size != buffer.size ||
        BufferInfo(index, BUFFER_INFO_NEW_DATA, &newData) != GC_ERR_SUCCESS)
        return Fail(Invariant::Call, "BUFFER_INFO_SIZE or NEW_DATA of a delivered buffer is wrong");
    std::ostringstream out;
    out << "buffer " << index << " ";
    if (!buffer.fillable) {
        if (newData) {
            out << "has BUFFER_INFO_NEW_DATA set, but was never queued while the engine ran";
            return Fail(Invariant::NewData, out.str());
        }
        if (buffer.canary) VerifyCanary(index, "while in the input pool, without new data");
        return;
    }
    if (!newData) return Note("no new data");
    if (CanaryIntact(index)) {
        // A frame whose every data packet was lost fills nothing, and says so.
        size_t filled = 0;
        bool8_t incomplete = 0;
        if (BufferInfo(index, BUFFER_INFO_SIZE_FILLED, &filled) != GC_ERR_SUCCESS ||
            BufferInfo(index, BUFFER_INFO_IS_INCOMPLETE, &incomplete) != GC_ERR_SUCCESS ||
            !incomplete || filled != 0) {
            out << "has BUFFER_INFO_NEW_DATA set, but nothing was written into it";
            return Fail(Invariant::NewData, out.str());
        }
        return Note("an incomplete frame without data");
    }

    Described d;
    GC_ERROR result = GC_ERR_SUCCESS;
    auto read = [&](BUFFER_INFO_CMD command, auto* value) {
        if (result == GC_ERR_SUCCESS) result = BufferInfo(index, command, value);
    };
    const PayloadKind& kind = *config_.payload;
    read(BUFFER_INFO_PAYLOADTYPE, &d.payloadType);
    read(BUFFER_INFO_FRAMEID, &d.frameId);
    read(BUFFER_INFO_SIZE_FILLED, &d.sizeFilled);
    read(BUFFER_INFO_IS_INCOMPLETE, &d.incomplete);
    const bool image =
        d.payloadType == PAYLOAD_TYPE_IMAGE || d.payloadType == PAYLOAD_TYPE_CHUNK_DATA;
    if (image || kind.image) {
        read(BUFFER_INFO_WIDTH, &d.width);
        read(BUFFER_INFO_HEIGHT, &d.height);
        read(BUFFER_INFO_XPADDING, &d.xPadding);
        read(BUFFER_INFO_YPADDING, &d.yPadding);
        read(BUFFER_INFO_PIXELFORMAT, &d.pixelFormat);
        read(BUFFER_INFO_IMAGEOFFSET, &d.imageOffset);
    }
    if (kind.gentlType == PAYLOAD_TYPE_CHUNK_DATA)
        read(BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE, &d.chunkPayload);
    if (result != GC_ERR_SUCCESS) {
        out << "with new data answers " << result << " to a buffer info command";
        return Fail(Invariant::Call, out.str());
    }
    ++stats_.images;
    if (d.incomplete) ++stats_.incomplete;
    out << "(block " << d.frameId << (d.incomplete ? ", incomplete" : "") << ") ";
    Note("block " + std::to_string(d.frameId) + (d.incomplete ? " incomplete" : ""));

    // An acquisition started while the camera streams may begin inside a block: its
    // first frame can lack the leader, and with it its type, and reads incomplete.
    const bool begunInside = d.incomplete && episode_ && !episode_->clean && !episode_->lastFrame;

    // What the buffer describes fits in it.
    if (d.sizeFilled > size) {
        out << "has SIZE_FILLED " << d.sizeFilled << " of " << size << " bytes";
        return Fail(Invariant::Geometry, out.str());
    }
    // Nothing tells the type of the first block whose leader and trailer are both lost.
    if (d.payloadType != kind.gentlType &&
        !(d.payloadType == 0 && d.incomplete && (begunInside || BothEndsLost(d.frameId)))) {
        out << "of a " << kind.name << " stream has BUFFER_INFO_PAYLOADTYPE " << d.payloadType
            << ", not " << kind.gentlType;
        return Fail(Invariant::Geometry, out.str());
    }
    if (image) {
        const uint64_t bits = (d.pixelFormat >> 16) & 0xFF;
        const uint64_t needed =
            uint64_t{d.width} * d.height * bits / 8 + uint64_t{d.xPadding} * d.height + d.yPadding;
        if (needed > size) {
            out << "describes " << d.width << "x" << d.height << " at " << bits
                << " bits with paddings " << d.xPadding << "/" << d.yPadding << ": " << needed
                << " bytes in a buffer of " << size;
            return Fail(Invariant::Geometry, out.str());
        }
    }
    if (d.chunkPayload > size) {
        out << "has DELIVERED_CHUNKPAYLOADSIZE " << d.chunkPayload << " of " << size << " bytes";
        return Fail(Invariant::Geometry, out.str());
    }

    // IS_INCOMPLETE exactly when bytes of the block are missing.
    const std::string difference = CompareContent(index, d.frameId);
    if (!d.incomplete && !difference.empty())
        return Fail(Invariant::Completeness,
                    out.str() + "is complete, but " + difference + PacketFaults(d.frameId));
    // Without its leader or trailer a receiver cannot know the block's shape: whole
    // bytes may then still be called incomplete.
    if (d.incomplete && difference.empty() && !FrameLost(d.frameId) && !begunInside)
        return Fail(
            Invariant::Completeness,
            out.str() + "is incomplete, yet holds the block whole" + PacketFaults(d.frameId));

    // Each block once, in the order the camera sent them.
    const uint64_t lastSent = camera_.StreamStats().blocksSent - sequenceSentBase_;
    if (d.frameId == 0 || d.frameId > lastSent) {
        out << "names a block the camera did not send (the last was " << lastSent << ")";
        return Fail(Invariant::FrameOrder, out.str());
    }
    if (!framesSeen_.insert(d.frameId).second)
        return Fail(Invariant::FrameOrder, out.str() + "repeats a block already delivered");
    if (episode_) {
        if (episode_->lastFrame && d.frameId <= *episode_->lastFrame) {
            out << "comes after block " << *episode_->lastFrame << " in one acquisition";
            return Fail(Invariant::FrameOrder, out.str());
        }
        episode_->lastFrame = d.frameId;
        if (d.frameId >= episode_->firstBlock) {
            ++episode_->images;
            if (d.incomplete) ++episode_->incomplete;
        }
    }
}

std::string Driver::CompareContent(size_t index, uint64_t frameId) {
    const Buffer& buffer = model_.At(index);
    const PayloadKind& kind = *config_.payload;
    const GevSim::StreamFormat format = Format();
    // The payload carries the camera's time stamp (chunks, GenDC descriptors): the
    // block sent is rebuilt with the one the buffer reports, which checks that too.
    uint64_t stamp = 0;
    BufferInfo(index, BUFFER_INFO_TIMESTAMP, &stamp);
    const std::vector<uint8_t> expected =
        GevSim::StreamPayload::Build(format, frameId, stamp, 0).payload;
    auto compare = [&](size_t to, size_t from, size_t count) -> std::string {
        if (to + count > buffer.size)
            return "its " + std::to_string(to + count) + " bytes do not fit";
        for (size_t i = 0; i < count; ++i) {
            if (buffer.memory[to + i] != expected[from + i]) {
                std::ostringstream out;
                out << "byte " << from + i << " of the block is " << Hex(buffer.memory[to + i])
                    << ", the camera sent " << Hex(expected[from + i]);
                return out.str();
            }
        }
        return "";
    };
    size_t filled = 0, offset = 0, dataSize = expected.size();
    std::string difference;
    if (kind.image) {
        size_t width = 0, height = 0, xPadding = 0, imageOffset = 0;
        uint64_t pixelFormat = 0;
        BufferInfo(index, BUFFER_INFO_WIDTH, &width);
        BufferInfo(index, BUFFER_INFO_HEIGHT, &height);
        BufferInfo(index, BUFFER_INFO_XPADDING, &xPadding);
        BufferInfo(index, BUFFER_INFO_PIXELFORMAT, &pixelFormat);
        BufferInfo(index, BUFFER_INFO_IMAGEOFFSET, &imageOffset);
        if (width != format.width || height != format.height || pixelFormat != format.pixelFormat) {
            std::ostringstream out;
            out << "it describes " << width << "x" << height << " " << Hex(unsigned(pixelFormat))
                << ", the camera sends " << format.width << "x" << format.height;
            return out.str();
        }
        // A copy may leave the line padding behind; the lines must then be whole.
        const size_t line = format.width, sent = line + format.paddingX, kept = line + xPadding;
        if (xPadding != format.paddingX && xPadding != 0)
            return "XPADDING " + std::to_string(xPadding);
        offset = imageOffset;
        for (size_t y = 0; y < format.height && difference.empty(); ++y)
            difference = compare(offset + y * kept, y * sent, line);
        const size_t tail = expected.size() - sent * format.height;
        if (difference.empty() && tail > 0) {
            if (kept != sent) return "the line padding was taken out of a chunk payload";
            difference = compare(offset + sent * format.height, sent * format.height, tail);
        }
        dataSize = kept * format.height + tail;
    } else {
        difference = compare(0, 0, expected.size());
    }
    if (!difference.empty()) return difference;
    BufferInfo(index, BUFFER_INFO_SIZE_FILLED, &filled);
    if (filled < dataSize)
        return "SIZE_FILLED is " + std::to_string(filled) + " of " + std::to_string(dataSize) +
               " bytes";
    if (kind.gentlType == PAYLOAD_TYPE_CHUNK_DATA) {
        size_t chunkPayload = 0;
        BufferInfo(index, BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE, &chunkPayload);
        if (chunkPayload != expected.size())
            return "DELIVERED_CHUNKPAYLOADSIZE is " + std::to_string(chunkPayload) + " of " +
                   std::to_string(expected.size());
    }
    return "";
}

}  // namespace ConsumerModel
