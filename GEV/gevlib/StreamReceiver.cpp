#include "StreamReceiver.h"

#include <algorithm>
#include <cstring>

#include "Clock.h"
#include "GevLog.h"

namespace Vantor {
namespace {

uint64_t Difference(uint64_t a, uint64_t b) {
    return a > b ? a - b : b - a;
}

}  // namespace

StreamReceiver::StreamReceiver(uint8_t handle, StreamState& state, ResendSender resend)
    : m_handle(handle), m_state(state), m_resend(std::move(resend)) {}

// ---- Slots -----------------------------------------------------------------

GevBufferDescriptor* StreamReceiver::TakeFreeSlot() {
    GevBufferDescriptor* slot = m_state.queued.TakeHead();
    if (slot == nullptr)
        DeviceLog(m_handle, kLogWarning,
                  "[WARNING] -There is no buffer available in the queue to store the data. "
                  "(QueuedList: %d, DeliverList: %d)\n\n",
                  m_state.queued.Count(), m_state.delivered.Count());
    return slot;
}

void StreamReceiver::StartBlock(GevBufferDescriptor* block, uint64_t blockId) {
    block->missingPackets = block->packetCount = m_state.settings.packetsPerBlock;
    std::fill(block->packetMap.begin(), block->packetMap.end(), kPacketMissing);
    block->blockId = blockId;
    block->status = kBlockComplete;
    block->paddingX = 0;
    block->resendRequested = block->resendReceived = block->resendIssued = 0;
    block->outOfOrder = false;
    block->nextPacket = 1;
    block->leaderSeen = false;
    block->trailerSeen = false;
    block->leaderAsked = false;
    block->overflow = false;
}

void StreamReceiver::Deliver(GevBufferDescriptor* block) {
    StreamStatistics& statistics = m_state.statistics;
    AssemblyState& assembly = m_state.assembly;
    if (block->resendRequested != 0 || block->resendReceived != 0)
        DeviceLog(m_handle, kLogInfo,
                  "[INFO] -Packet resend [BlockID %lld] -> requested: %d, received: %d packets\n",
                  block->blockId, block->resendRequested, block->resendReceived);
    if (!block->leaderSeen) {
        // Its data may be whole, but nothing says what it is: the consumer must know.
        ++block->missingPackets;
    }
    if (block->missingPackets != 0 || block->overflow) {
        block->status = kBlockIncomplete;
        statistics.lostPackets += block->missingPackets;
    } else {
        block->status = kBlockComplete;
    }
    ++statistics.frameCount;
    DeviceLog(m_handle, kLogTrace, "Enqueueing image #%d ...\n", block->blockId);
    m_state.delivered.Append(block);
    DeviceLog(m_handle, kLogTrace, "Image #%d enqueued. Updating fps.\n", block->blockId);
    m_state.meter.Update(Platform::PerformanceCounter());
    {
        std::lock_guard<std::mutex> guard(m_state.imageLock);
        m_state.imageSignalled = true;
    }
    m_state.imageArrived.notify_all();

    const uint64_t expected = assembly.nextBlockId;
    if (expected == 0) {
        DeviceLog(m_handle, kLogTrace, "Setting up BlockIDCheck: %lld\n", block->blockId);
    } else if (block->blockId == expected) {
        DeviceLog(m_handle, kLogTrace, "BlockIDCheck ok: %lld\n", block->blockId);
    } else {
        const uint64_t gap = Difference(block->blockId, expected);
        statistics.frameCount += static_cast<uint32_t>(gap);
        statistics.missingFrames += static_cast<uint32_t>(gap);
        statistics.lostPackets += static_cast<uint32_t>(m_state.settings.packetsPerBlock * gap);
        if (gap >= 2)
            DeviceLog(m_handle, kLogError, "[ERROR] -Missing frames: %lld -> %lld\n", expected,
                      block->blockId - 1);
        else
            DeviceLog(m_handle, kLogError, "[ERROR] -Missing frame: %lld\n", expected);
    }
    if (assembly.blockIdMode == 2 && assembly.currentBlockId > expected)
        assembly.discardBase = expected;
    assembly.nextBlockId = (block->blockId + 1) & assembly.blockIdMask;
    if (assembly.nextBlockId == 0) assembly.nextBlockId = 1;
}

void StreamReceiver::FlushOnSilence() {
    AssemblyState& assembly = m_state.assembly;
    if (assembly.current != nullptr) {
        Deliver(assembly.current);
        assembly.current = nullptr;
    }
    if (assembly.previous != nullptr) {
        Deliver(assembly.previous);
        assembly.previous = nullptr;
    }
}

void StreamReceiver::FlushAtEnd() {
    AssemblyState& assembly = m_state.assembly;
    if (assembly.previous != nullptr) {
        DeviceLog(m_handle, kLogInfo, "[INFO] -Late delivery for previous buffer\n");
        Deliver(assembly.previous);
        assembly.previous = nullptr;
    }
    if (assembly.current != nullptr) {
        DeviceLog(m_handle, kLogInfo, "[INFO] -Late delivery for image buffer\n");
        Deliver(assembly.current);
        assembly.current = nullptr;
    }
    assembly.early = nullptr;
}

// ---- Packets ---------------------------------------------------------------

void StreamReceiver::HandlePacket(const uint8_t* data, size_t size) {
    Gvsp::Header header{};
    if (!Gvsp::ParseHeader(data, size, &header)) return;
    if (header.status & 0x8000) {
        if (header.status != Gvsp::kStatusPacketResendProcessed) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -Skipping packet with error status %x (format %x)\n",
                      header.status, header.format);
            return;
        }
        DeviceLog(m_handle, kLogWarning,
                  "[WARNING] -Processing packet with error status %x (format %x)\n", header.status,
                  header.format);
    }
    AssemblyState& assembly = m_state.assembly;
    if (assembly.blockIdMode == 0) {
        // The first packet decides the stream's ID mode for the whole acquisition.
        assembly.blockIdMode = header.extended ? 2 : 1;
        assembly.headerSize = header.size;
        assembly.blockIdMask = header.extended ? ~uint64_t{0} : 0xFFFF;
        DeviceLog(m_handle, kLogInfo,
                  header.extended ? "[INFO] -Stream uses extended block IDs\n"
                                  : "[INFO] -Stream uses 16-bit block IDs\n");
    }
    if (header.extended != (assembly.blockIdMode == 2)) return;
    switch (header.format) {
        case Gvsp::kLeader:
            return OnLeader(data, size, header);
        case Gvsp::kTrailer:
            return OnTrailer(data, size, header);
        case Gvsp::kPayloadGeneric:
        case Gvsp::kPayloadMultiPart:
        case Gvsp::kPayloadGenDC:
            return OnPayload(data, size, header);
        default:
            DeviceLog(m_handle, kLogWarning, "[WARNING] -Ignoring packet format %x (%d bytes)\n",
                      header.format, size);
    }
}

void StreamReceiver::FillImageGeometry(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                                       const Gvsp::Header& header, uint16_t type) {
    const StreamSettings& settings = m_state.settings;
    const uint64_t id = header.blockId;
    DeviceLog(m_handle, kLogTrace, "setup ImageHeader from leader packet\n");
    block->pixelFormat =
        static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderPixelFormat, 4));
    block->sizeX = static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderSizeX, 4));
    block->sizeY = static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderSizeY, 4));
    block->trailerSizeY = block->sizeY;
    block->offsetX =
        static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderOffsetX, 4));
    block->offsetY =
        static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderOffsetY, 4));
    block->paddingX =
        static_cast<uint16_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderPaddingX, 2));
    block->paddingY =
        static_cast<uint16_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderPaddingY, 2));
    const uint64_t imageBytes = Gvsp::ImageBytes(block->pixelFormat, block->sizeX, block->sizeY,
                                                 block->paddingX, block->paddingY);
    if (settings.sizeOnlyCheck) {
        // The payload size is the buffer's: any image it holds, paddings included, is right.
        const uint64_t computed = imageBytes;
        if (computed == 0 || computed > settings.payloadSize) {
            block->overflow = computed > settings.payloadSize;
            block->status = kBlockHeaderMismatch;
            DeviceLog(m_handle, kLogError, "[ERROR] -Stream header wrong (%lld):\n", id);
            DeviceLog(m_handle, kLogError, "[ERROR] -Payload size expected -> %d, actual -> %d\n",
                      settings.payloadSize, computed);
        }
    } else {
        if (block->sizeX != settings.expectedWidth) {
            DeviceLog(m_handle, kLogError,
                      "[ERROR] -Stream header wrong (%lld): Width expected -> %d, actual -> %d\n",
                      id, settings.expectedWidth, block->sizeX);
            block->status = kBlockHeaderMismatch;
            block->sizeX = settings.expectedWidth;
        }
        if (block->sizeY != settings.expectedHeight) {
            DeviceLog(m_handle, kLogError,
                      "[ERROR] -Stream header wrong (%lld): Height expected -> %d, actual -> %d\n",
                      id, settings.expectedHeight, block->sizeY);
            block->status = kBlockHeaderMismatch;
            block->sizeY = settings.expectedHeight;
        }
        if (block->pixelFormat != settings.expectedPixelFormat) {
            DeviceLog(m_handle, kLogError,
                      "[ERROR] -Stream header wrong (%lld): Pixelformat expected -> 0x%08X, "
                      "actual -> 0x%08X\n",
                      id, settings.expectedPixelFormat, block->pixelFormat);
            block->status = kBlockHeaderMismatch;
            block->pixelFormat = settings.expectedPixelFormat;
        }
    }
    if (block->status == kBlockHeaderMismatch) block->paddingX = block->paddingY = 0;
    // A plain image is all the block carries; with chunk data the trailer tells the rest.
    if (block->status != kBlockHeaderMismatch && type == Gvsp::kImage)
        ExpectBytes(block, imageBytes);
    m_state.assembly.variablePayload = false;
}

void StreamReceiver::OnLeader(const uint8_t* data, size_t size, const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    StreamStatistics& statistics = m_state.statistics;
    const uint64_t id = header.blockId;
    DeviceLog(m_handle, kLogTrace, "New Leader packet received\n");
    if (IsStaleLeader(id, header)) {
        DeviceLog(m_handle, kLogTrace, "Late leader of block %lld ignored\n", id);
        return;
    }
    AdvanceCurrentBlockId(id);

    if (assembly.blockIdMode == 2 && (header.flags & Gvsp::kFlagDeviceDiscarded)) {
        const uint64_t expected = assembly.nextBlockId;
        uint64_t dropped = id - expected;
        if (id < expected) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -Expected block %lld is past current block. Assuming blocks were "
                      "dropped since %lld instead.\n",
                      expected, assembly.discardBase);
            dropped = id - assembly.discardBase;
        }
        statistics.discardedBlocks += static_cast<uint32_t>(dropped);
        assembly.discardBase = id + 1;
        if (dropped > 1)
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -More than one previous data blocks have been discarded on device "
                      "side. (BlockID: %lld -> %lld)\n",
                      expected, id - 1);
        else
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -One previous data block has been discarded on device side. "
                      "(BlockID: %lld)\n",
                      expected);
    }

    // A leader sent again for a block that has waited for it: fill it in place.
    // (An early block takes its leader in place only while a newer block runs;
    // otherwise it becomes the current block below.)
    if (assembly.early != nullptr && assembly.early->blockId == id && !assembly.early->leaderSeen &&
        assembly.current != nullptr) {
        FillFromLeader(assembly.early, data, size, header);
        return;
    }
    for (GevBufferDescriptor** open : {&assembly.previous, &assembly.current}) {
        GevBufferDescriptor* waiting = *open;
        if (waiting == nullptr || waiting->blockId != id || waiting->leaderSeen) continue;
        FillFromLeader(waiting, data, size, header);
        if (waiting->missingPackets == 0 && waiting->trailerSeen) {
            Deliver(waiting);
            *open = nullptr;
        }
        return;
    }
    // A later leader came first: the early block's own leader was lost. It is
    // asked for once; a block passed by a further leader goes out as it is, so
    // that it neither blocks the early place nor vanishes.
    if (assembly.early != nullptr && assembly.early->blockId != id) {
        GevBufferDescriptor* early = assembly.early;
        if (early->leaderSeen || early->leaderAsked || !m_state.settings.resendEnabled) {
            if (assembly.previous != nullptr) {
                Deliver(assembly.previous);
                assembly.previous = nullptr;
            }
            Deliver(early);
            assembly.early = nullptr;
        } else {
            RequestLostLeader(early);
            early->leaderAsked = true;
        }
    }
    if (assembly.current != nullptr) {
        if (assembly.previous != nullptr) Deliver(assembly.previous);
        GevBufferDescriptor* moving = assembly.current;
        // Its trailer was lost: the packets it still misses were never asked for.
        if (!moving->trailerSeen && moving->missingPackets != 0 && !moving->outOfOrder &&
            m_state.settings.resendEnabled)
            ScanForResends(moving);
        RequestLostLeader(moving);
        assembly.previous = moving;
        assembly.current = nullptr;
    }
    if (assembly.early != nullptr && assembly.early->blockId == id) {
        assembly.current = assembly.early;
        assembly.early = nullptr;
    } else {
        GevBufferDescriptor* slot = TakeFreeSlot();
        if (slot == nullptr) {
            DeviceLog(m_handle, kLogTrace, "No buffer available (BlockID: %lld)\n", id);
            return;
        }
        StartBlock(slot, id);
        assembly.current = slot;
    }
    FillFromLeader(assembly.current, data, size, header);
}

void StreamReceiver::FillFromLeader(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                                    const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    const uint64_t id = header.blockId;
    block->leaderSeen = true;
    const uint16_t type =
        static_cast<uint16_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderPayloadType, 2));
    if (Gvsp::IsImage(type)) {
        FillImageGeometry(block, data, size, header, type);
    } else {
        const uint32_t payloadSize = m_state.settings.payloadSize;
        const uint32_t missing = block->missingPackets;
        block->pixelFormat = block->sizeX = block->sizeY = block->offsetX = block->offsetY = 0;
        block->paddingX = block->paddingY = 0;
        block->chunkDataLength = block->chunkLayoutId = 0;
        block->missingPackets = missing;  // the block's packet count stands
        bool variable = true;
        switch (type) {
            case Gvsp::kRawData:
                block->sizeX = 0xFFFFFFFF;
                block->sizeY =
                    static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kLeaderRawSize, 4));
                break;
            case Gvsp::kChunk:
            case Gvsp::kExtendedChunk:
            case Gvsp::kMultiPart:
            case Gvsp::kMultiPartWithChunk:
                block->sizeX = 0xFFFFFFFF;
                block->sizeY = payloadSize;
                break;
            case Gvsp::kGenDC: {
                block->dataSize = Gvsp::Field(data, size, header, Gvsp::kLeaderLargeSize, 8);
                if (block->dataSize != payloadSize) {
                    DeviceLog(m_handle, kLogError,
                              "[ERROR] -Payload size expected -> %d, actual -> %lld\n", payloadSize,
                              block->dataSize);
                    block->dataSize = payloadSize;
                }
                block->genDcFlags = static_cast<uint8_t>(
                    Gvsp::Field(data, size, header, Gvsp::kLeaderGenDCFlags, 1));
                block->sizeX = 0xFFFFFFFF;
                block->sizeY = payloadSize;
                break;
            }
            case Gvsp::kJpeg:
            case Gvsp::kJpeg2000:
            case Gvsp::kJpegWithChunk:
            case Gvsp::kJpeg2000WithChunk:
                block->dataSize = Gvsp::Field(data, size, header, Gvsp::kLeaderLargeSize, 8);
                block->sizeX = 0xFFFFFFFF;
                block->sizeY = block->chunkDataLength = static_cast<uint32_t>(block->dataSize);
                block->pixelFormat = static_cast<uint32_t>(
                    Gvsp::Field(data, size, header, Gvsp::kLeaderJpegFormat, 4));
                break;
            default:
                variable = false;
                break;
        }
        if (variable) m_state.assembly.variablePayload = true;
    }
    block->timestamp = Gvsp::Field(data, size, header, Gvsp::kLeaderTimestamp, 8);
    block->blockId = id;
    block->payloadType = type;
    if (assembly.lastTimestamp != 0 && block->timestamp <= assembly.lastTimestamp)
        DeviceLog(m_handle, kLogWarning,
                  "[WARNING] -Current image timestamp is smaller or equal as last one\n");
    assembly.lastTimestamp = block->timestamp;
    assembly.packetLargerSeen = false;
}

bool StreamReceiver::RequestResend(GevBufferDescriptor* block, uint32_t first, uint32_t last) {
    if (!m_resend || !m_resend(block->blockId, first, last, m_state.assembly.blockIdMode == 2)) {
        DeviceLog(m_handle, kLogError, "[ERROR] -Can't send packet resend command\n");
        return false;
    }
    // A lost leader is asked for as packet 0 alone.
    m_state.statistics.resendRequested += first == 0 ? 1 : last - first + 1;
    if (first == 0) {
        auto& asked = m_state.assembly.askedLeaders;
        asked.push_back({block->blockId, Platform::TickCount()});
        if (asked.size() > AssemblyState::kAskedLeadersKept) asked.pop_front();
    }
    return true;
}

void StreamReceiver::AdvanceCurrentBlockId(uint64_t id) {
    AssemblyState& assembly = m_state.assembly;
    const uint64_t mask = assembly.blockIdMask;
    const uint64_t ahead = (id - assembly.currentBlockId) & mask;
    // Block 1 is a camera that started its IDs over.
    if (assembly.currentBlockId == 0 || id == 1 || (ahead != 0 && ahead <= mask / 2))
        assembly.currentBlockId = id;
}

bool StreamReceiver::IsStaleLeader(uint64_t id, const Gvsp::Header& header) const {
    const AssemblyState& assembly = m_state.assembly;
    for (const GevBufferDescriptor* open : {assembly.early, assembly.current, assembly.previous}) {
        // A block that has its leader takes no second one.
        if (open != nullptr && open->blockId == id) return open->leaderSeen;
    }
    // No open block: an answer to a resend request belongs to a block gone out.
    if (header.flags & Gvsp::kFlagResent) return true;
    const uint32_t now = Platform::TickCount();
    for (const AssemblyState::AskedLeader& asked : assembly.askedLeaders) {
        if (asked.blockId == id && now - asked.tick < AssemblyState::kAskedLeaderWindowMs)
            return true;
    }
    return false;
}

bool StreamReceiver::RequestLostLeader(GevBufferDescriptor* block) {
    const StreamSettings& settings = m_state.settings;
    if (block->leaderSeen || !settings.resendEnabled || block->resendIssued >= settings.resendCount)
        return false;
    // The leader is packet 0: its geometry makes the block usable.
    if (RequestResend(block, 0, 0)) ++block->resendIssued;
    return true;
}

void StreamReceiver::ExpectBytes(GevBufferDescriptor* block, uint64_t bytes) {
    const StreamSettings& settings = m_state.settings;
    if (settings.packetDataSize == 0 || bytes == 0) return;
    const uint64_t needed = (bytes + settings.packetDataSize - 1) / settings.packetDataSize +
                            (settings.extraPacket ? 1 : 0);
    if (needed >= block->packetCount) return;
    const uint32_t cut = static_cast<uint32_t>(block->packetCount - needed);
    block->missingPackets -= std::min(block->missingPackets, cut);
    block->packetCount = static_cast<uint32_t>(needed);
    // Its last packet is a short one.
    m_state.assembly.packetSizeCheckOff = true;
}

void StreamReceiver::ScanForResends(GevBufferDescriptor* block) {
    const StreamSettings& settings = m_state.settings;
    const uint32_t count =
        std::min<uint32_t>(block->packetCount, static_cast<uint32_t>(block->packetMap.size()));
    uint32_t first = 0, length = 0;
    auto flush = [&] {
        if (length == 0) return;
        if (block->resendIssued < settings.resendCount &&
            RequestResend(block, first, first + length - 1)) {
            block->resendIssued += length;
            block->resendRequested += length;
        }
        length = 0;
    };
    for (uint32_t id = 1; id <= count; ++id) {
        uint8_t& entry = block->packetMap[id - 1];
        if (entry == kPacketMissing) {
            if (length == 0) {
                first = id;
                length = 1;
                entry = kPacketRequested;
            } else if (block->resendIssued + length < settings.resendCount) {
                ++length;
                entry = kPacketRequested;
            }
        } else if (length != 0) {
            flush();
        }
    }
    flush();
}

void StreamReceiver::ApplyTrailer(GevBufferDescriptor* block, const uint8_t* data, size_t size,
                                  const Gvsp::Header& header) {
    const uint16_t type =
        static_cast<uint16_t>(Gvsp::Field(data, size, header, Gvsp::kTrailerPayloadType, 2));
    const uint32_t word =
        static_cast<uint32_t>(Gvsp::Field(data, size, header, Gvsp::kTrailerSizeY, 4));
    // A trailer without size Y (shorter, or 0) cuts nothing: the leader's height stands.
    const bool hasSizeY = size >= header.size + Gvsp::kTrailerSizeY + 4 && word != 0;
    if (Gvsp::IsImage(type)) {
        if (hasSizeY) block->trailerSizeY = word;
        if (hasSizeY && word != block->sizeY) {
            // The packets of the cut-off rows are never sent.
            m_state.assembly.packetSizeCheckOff = true;
            const uint64_t bytes = Gvsp::ImageBytes(block->pixelFormat, block->sizeX, word,
                                                    block->paddingX, block->paddingY);
            if (bytes != 0) ExpectBytes(block, bytes);
        }
        if (type == Gvsp::kImageWithChunk) {
            block->chunkDataLength = static_cast<uint32_t>(
                Gvsp::Field(data, size, header, Gvsp::kTrailerChunkLength, 4));
            block->chunkLayoutId = static_cast<uint32_t>(
                Gvsp::Field(data, size, header, Gvsp::kTrailerChunkLayout, 4));
        }
    } else if (type == Gvsp::kChunk || type == Gvsp::kExtendedChunk) {
        block->sizeY = word;
        if (type == Gvsp::kChunk) block->chunkDataLength = word;
    }
}

void StreamReceiver::OnTrailer(const uint8_t* data, size_t size, const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    const uint64_t id = header.blockId;
    assembly.packetSizeCheckOff = false;
    if (assembly.previous != nullptr) {
        GevBufferDescriptor* previous = assembly.previous;
        const bool same = previous->blockId == id;
        if (same) ApplyTrailer(previous, data, size, header);
        DeviceLog(m_handle, kLogTrace, "Sending previous buffer: got trailer\n");
        Deliver(previous);
        assembly.previous = nullptr;
        if (same) return;
    }
    GevBufferDescriptor* target = nullptr;
    if (assembly.current != nullptr && assembly.current->blockId == id) target = assembly.current;
    if (assembly.early != nullptr && assembly.early->blockId == id) target = assembly.early;
    if (target == nullptr) return;

    target->trailerSeen = true;
    if (target->missingPackets != 0 && !target->outOfOrder && m_state.settings.resendEnabled)
        ScanForResends(target);
    ApplyTrailer(target, data, size, header);
    const bool askLeader = RequestLostLeader(target);
    if (target->missingPackets == 0 && (target->leaderSeen || !askLeader)) {
        DeviceLog(m_handle, kLogTrace, "Sending current buffer (no missing packets)\n");
        Deliver(target);
        if (assembly.current == target) assembly.current = nullptr;
        if (assembly.early == target) assembly.early = nullptr;
        return;
    }
    DeviceLog(m_handle, kLogInfo, "[INFO] -Still %d missing packets. Updated buffer pointers\n",
              target->missingPackets);
    if (assembly.current == target) {
        assembly.previous = target;
        assembly.current = assembly.early;
        assembly.early = nullptr;
    } else {
        assembly.early = nullptr;
        if (assembly.current != nullptr) assembly.previous = assembly.current;
        assembly.current = target;
    }
}

void StreamReceiver::OnPayload(const uint8_t* data, size_t size, const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    const StreamSettings& settings = m_state.settings;
    const size_t headerSize = header.size;
    const uint64_t id = header.blockId;
    const uint32_t packetId = header.packetId;

    uint64_t offset = 0;
    size_t copyFrom = headerSize;
    size_t copyLength = 0;
    if (header.format == Gvsp::kPayloadMultiPart) {
        if (size < headerSize + Gvsp::kMultiPartHeader) return;
        offset =
            (Gvsp::Field(data, size, header, 2, 2) << 32) | Gvsp::Field(data, size, header, 4, 4);
        copyFrom = headerSize + Gvsp::kMultiPartHeader;
        copyLength = size - copyFrom;
        if (offset + copyLength > settings.payloadSize) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -Multipart offset %lld is larger than buffer size %d\n",
                      offset + copyLength, settings.payloadSize);
            return;
        }
    } else if (header.format == Gvsp::kPayloadGenDC) {
        if (size < headerSize + Gvsp::kGenDCHeader) return;
        const uint64_t dataSize = Gvsp::Field(data, size, header, 0, 4);
        offset = Gvsp::Field(data, size, header, 4, 8);
        const uint8_t flags = static_cast<uint8_t>(Gvsp::Field(data, size, header, 12, 1));
        copyFrom = headerSize + Gvsp::kGenDCHeader;
        // The header's size never reaches past the datagram.
        copyLength = static_cast<size_t>(std::min<uint64_t>(dataSize, size - copyFrom));
        if (dataSize + offset > settings.payloadSize) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -GenDC data size %lld is larger than buffer size %d\n",
                      dataSize + offset, settings.payloadSize);
            return;
        }
        if (flags >= 64 && (flags & 0x10)) assembly.variablePayload = true;
    }
    if (packetId == 0) return;

    const uint32_t perBlock = settings.packetsPerBlock;
    if (packetId > perBlock && !assembly.variablePayload) {
        if (!assembly.packetLargerSeen) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -[BlockID %lld] Packet number is larger than maximum (%d > %d)\n",
                      id, packetId, perBlock);
            assembly.packetLargerSeen = true;
        }
        return;
    }
    const size_t dataLength = size - headerSize;
    if (packetId < perBlock && !assembly.variablePayload && dataLength != settings.packetDataSize &&
        !assembly.packetSizeCheckOff) {
        DeviceLog(m_handle, kLogError,
                  "[ERROR] - [BlockID %lld] Packet size is not equal as the stream channel packet "
                  "size (SCPS). %d -> %d, %d\n",
                  id, dataLength, settings.packetDataSize, packetId);
        assembly.packetSizeCheckOff = true;
    }

    GevBufferDescriptor* block = nullptr;
    if (assembly.early != nullptr && assembly.early->blockId == id)
        block = assembly.early;
    else if (assembly.current != nullptr && assembly.current->blockId == id)
        block = assembly.current;
    else if (assembly.previous != nullptr && assembly.previous->blockId == id)
        block = assembly.previous;
    if (block == nullptr) {
        uint64_t following = (assembly.currentBlockId + 1) & assembly.blockIdMask;
        if (following == 0) following = 1;  // block ID 0 is never used
        if (id != following || (header.flags & Gvsp::kFlagResent)) return;
        DeviceLog(m_handle, kLogTrace,
                  "no existing buffer could host packet with [BlockID %lld] (expected [BlockID "
                  "%lld])\n",
                  id, assembly.currentBlockId);
        if (assembly.early != nullptr) return;
        block = TakeFreeSlot();
        if (block == nullptr) return;
        StartBlock(block, id);
        block->nextPacket = packetId;
        assembly.early = block;
        // The block after this one may lose its leader too.
        AdvanceCurrentBlockId(id);
        assembly.packetLargerSeen = false;
    }

    const uint32_t index = std::min(packetId, perBlock);
    if (index == 0 || index > block->packetMap.size()) return;
    if (settings.resendEnabled && block->packetMap[index - 1] == kPacketMissing) {
        const uint32_t expected = block->nextPacket;
        if (packetId < expected) {
            block->outOfOrder = true;
            DeviceLog(m_handle, kLogWarning, "[WARNING] -Packets out of order [%lld]\n", id);
        } else if (packetId > expected && block->resendIssued < settings.resendCount) {
            const uint32_t first = std::min(expected, perBlock);
            const uint32_t budget = settings.resendCount - block->resendIssued;
            const uint32_t losses = packetId - expected;
            uint32_t end = packetId;
            if (losses > budget) {
                DeviceLog(m_handle, kLogTrace, "Only requesting %d packet resends for %d losses\n",
                          budget, losses);
                end = first + budget;
            }
            end = std::min(end, perBlock);
            if (end > first && RequestResend(block, first, end - 1)) {
                block->resendIssued += end - first;
                for (uint32_t p = first; p < end; ++p) {
                    if (block->packetMap[p - 1] == kPacketMissing) {
                        block->packetMap[p - 1] = kPacketRequested;
                        ++block->resendRequested;
                    }
                }
            }
        }
    }
    // A packet sent again (or late) does not move the expected one back: the
    // next packet in order would otherwise look like a gap and spend the budget.
    block->nextPacket = std::max(block->nextPacket, packetId + 1);
    uint8_t& entry = block->packetMap[index - 1];
    if (entry == kPacketReceived) return;  // a duplicate
    if (block->missingPackets > 0) --block->missingPackets;
    if (settings.resendEnabled && entry == kPacketRequested && block->resendRequested > 0) {
        // 16-bit headers carry no resent flag: a packet that was asked for is
        // taken as the answer.
        if ((header.flags & Gvsp::kFlagResent) || !header.extended)
            ++block->resendReceived;
        else
            --block->resendRequested;
    }
    entry = kPacketReceived;

    // No copy reaches past the payload size.
    if (header.format == Gvsp::kPayloadGeneric) {
        offset = index - 1 < m_state.packetOffsets.size() ? m_state.packetOffsets[index - 1] : 0;
        const uint32_t expected = index < perBlock ? block->packetDataSize : block->lastPacketSize;
        copyLength = std::min<size_t>(dataLength, expected);
    }
    if (offset < settings.payloadSize && block->data != nullptr) {
        copyLength = std::min<uint64_t>(copyLength, settings.payloadSize - offset);
        std::memcpy(block->data + offset, data + copyFrom, copyLength);
    }

    if (assembly.previous == block && block->missingPackets == 0 && block->leaderSeen) {
        DeviceLog(m_handle, kLogTrace,
                  "Sending previous buffer: blockID reached %lld and missing packets is 0\n", id);
        Deliver(block);
        assembly.previous = nullptr;
    }
}

}  // namespace Vantor
