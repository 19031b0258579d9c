#include "StreamReceiver.h"

#include <algorithm>
#include <cstring>

#include "Clock.h"
#include "GevLog.h"

namespace Vantor {
StreamReceiver::StreamReceiver(uint8_t handle, StreamState& state, ResendSender resend,
                               TickSource now)
    : m_handle(handle),
      m_state(state),
      m_resend(std::move(resend)),
      m_now(now ? std::move(now) : TickSource(&Platform::TickCount)) {}

void StreamReceiver::StartBlock(GevBufferDescriptor* block, uint64_t blockId) {
    const StreamSettings& settings = m_state.settings;
    std::fill(block->packetMap.begin(), block->packetMap.end(), kPacketMissing);
    block->packetCount = std::min<uint32_t>(settings.packetsPerBlock,
                                            static_cast<uint32_t>(block->packetMap.size()));
    block->missingPackets = block->packetCount;
    block->countKnown = false;
    block->blockId = blockId;
    block->status = kBlockComplete;
    // Nothing of the slot's previous block may describe this one.
    block->timestamp = 0;
    block->pixelFormat = block->sizeX = block->sizeY = block->offsetX = block->offsetY = 0;
    block->paddingX = block->paddingY = 0;
    block->payloadType = 0;
    block->chunkDataLength = block->chunkLayoutId = 0;
    block->trailerSizeY = 0;
    block->dataSize = block->dataEnd = block->filled = 0;
    block->genDcFlags = 0;
    block->resendRequested = block->resendReceived = block->resendIssued = 0;
    block->outOfOrder = false;
    block->nextPacket = 1;
    block->leaderSeen = false;
    block->trailerSeen = false;
    block->leaderAsked = false;
    block->overflow = false;
    block->ownOffsets = false;
    block->parts.clear();
    block->bytesReceived = 0;
    block->finished = false;
    StartAccounting(blockId);
    ++m_state.statistics.framesStarted;
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
    if (assembly.blockIdMode == BlockIdMode::Unknown) {
        // The first packet decides the stream's ID mode for the whole acquisition.
        assembly.blockIdMode = header.extended ? BlockIdMode::Extended : BlockIdMode::Short;
        assembly.headerSize = header.size;
        assembly.blockIdMask = header.extended ? ~uint64_t{0} : 0xFFFF;
        DeviceLog(m_handle, kLogInfo,
                  header.extended ? "[INFO] -Stream uses extended block IDs\n"
                                  : "[INFO] -Stream uses 16-bit block IDs\n");
    }
    if (header.extended != (assembly.blockIdMode == BlockIdMode::Extended)) return;
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
        // The payload size is the buffer's: any image it holds, paddings included, is
        // right; a larger one is cut to the buffer and handed out incomplete.
        if (imageBytes == 0 || imageBytes > settings.payloadSize) {
            block->overflow = imageBytes > settings.payloadSize;
            block->status = kBlockHeaderMismatch;
            DeviceLog(m_handle, kLogError, "[ERROR] -Stream header wrong (%lld):\n", id);
            DeviceLog(m_handle, kLogError, "[ERROR] -Payload size expected -> %d, actual -> %d\n",
                      settings.payloadSize, imageBytes);
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
            block->sizeY = block->trailerSizeY = settings.expectedHeight;
        }
        if (block->pixelFormat != settings.expectedPixelFormat) {
            DeviceLog(m_handle, kLogError,
                      "[ERROR] -Stream header wrong (%lld): Pixelformat expected -> 0x%08X, "
                      "actual -> 0x%08X\n",
                      id, settings.expectedPixelFormat, block->pixelFormat);
            block->status = kBlockHeaderMismatch;
            block->pixelFormat = settings.expectedPixelFormat;
        }
        if (block->status == kBlockHeaderMismatch) block->paddingX = block->paddingY = 0;
    }
    // A plain image is all the block carries; with chunk data the trailer tells the rest.
    if (type == Gvsp::kImage && imageBytes != 0) {
        block->dataSize = imageBytes;
        ExpectBytes(block, imageBytes);
    }
}

void StreamReceiver::OnLeader(const uint8_t* data, size_t size, const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    StreamStatistics& statistics = m_state.statistics;
    const uint64_t id = header.blockId;
    DeviceLog(m_handle, kLogTrace, "New Leader packet received\n");
    // A block whose ID went by (delivered, dropped, or counted lost) is not taken
    // again: frame IDs only rise.
    if (IsStaleLeader(id, header) || AlreadyAccounted(id)) {
        DeviceLog(m_handle, kLogTrace, "Late leader of block %lld ignored\n", id);
        return;
    }
    AdvanceCurrentBlockId(id);

    if (assembly.blockIdMode == BlockIdMode::Extended &&
        (header.flags & Gvsp::kFlagDeviceDiscarded)) {
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
        FinishIfWhole(assembly.early);
        return;
    }
    for (GevBufferDescriptor** open : {&assembly.previous, &assembly.current}) {
        GevBufferDescriptor* waiting = *open;
        if (waiting == nullptr || waiting->blockId != id || waiting->leaderSeen) continue;
        FillFromLeader(waiting, data, size, header);
        if (waiting->countKnown && waiting->missingPackets == 0 && waiting->trailerSeen) {
            *open = nullptr;
            Deliver(waiting);
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
        GevBufferDescriptor* slot = TakeFreeSlot(id);
        if (slot == nullptr) {
            DeviceLog(m_handle, kLogTrace, "No buffer available (BlockID: %lld)\n", id);
            return;
        }
        StartBlock(slot, id);
        assembly.current = slot;
    }
    FillFromLeader(assembly.current, data, size, header);
    FinishIfWhole(assembly.current);
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
        // No image geometry: the data size, where the leader gives one, and the
        // trailer's packet ID tell where the block ends.
        block->pixelFormat = block->sizeX = block->sizeY = block->offsetX = block->offsetY = 0;
        block->paddingX = block->paddingY = 0;
        block->chunkDataLength = block->chunkLayoutId = 0;
        block->sizeX = 0xFFFFFFFF;
        uint64_t dataSize = 0;
        bool genericPackets = true;
        switch (type) {
            case Gvsp::kRawData:
                dataSize = Gvsp::Field(data, size, header, Gvsp::kLeaderLargeSize, 8);
                break;
            case Gvsp::kGenDC:
                dataSize = Gvsp::Field(data, size, header, Gvsp::kLeaderLargeSize, 8);
                block->genDcFlags = static_cast<uint8_t>(
                    Gvsp::Field(data, size, header, Gvsp::kLeaderGenDCFlags, 1));
                genericPackets = false;
                block->ownOffsets = true;
                break;
            case Gvsp::kJpeg:
            case Gvsp::kJpeg2000:
            case Gvsp::kJpegWithChunk:
            case Gvsp::kJpeg2000WithChunk:
                dataSize = Gvsp::Field(data, size, header, Gvsp::kLeaderLargeSize, 8);
                block->pixelFormat = static_cast<uint32_t>(
                    Gvsp::Field(data, size, header, Gvsp::kLeaderJpegFormat, 4));
                break;
            case Gvsp::kMultiPart:
            case Gvsp::kMultiPartWithChunk:
                genericPackets = false;
                block->ownOffsets = true;
                Gvsp::ParseParts(data, size, header, &block->parts, &dataSize);
                break;
            default:
                break;
        }
        if (dataSize > m_state.settings.payloadSize) {
            DeviceLog(m_handle, kLogError, "[ERROR] -Payload size expected -> %d, actual -> %lld\n",
                      m_state.settings.payloadSize, dataSize);
            block->overflow = true;
        }
        // Chunks follow the data: with them, only the trailer knows the end.
        if (dataSize != 0 && !Gvsp::HasChunks(type)) {
            block->dataSize = dataSize;
            if (genericPackets) ExpectBytes(block, dataSize);
        }
    }
    block->timestamp = Gvsp::Field(data, size, header, Gvsp::kLeaderTimestamp, 8);
    block->blockId = id;
    block->payloadType = type;
    if (assembly.lastTimestamp != 0 && block->timestamp <= assembly.lastTimestamp)
        DeviceLog(m_handle, kLogWarning,
                  "[WARNING] -Current image timestamp is smaller or equal as last one\n");
    assembly.lastTimestamp = block->timestamp;
    assembly.lastPayloadType = type;
    assembly.packetLargerSeen = false;
}

bool StreamReceiver::RequestResend(GevBufferDescriptor* block, uint32_t first, uint32_t last) {
    if (!m_resend || !m_resend(block->blockId, first, last,
                               m_state.assembly.blockIdMode == BlockIdMode::Extended)) {
        DeviceLog(m_handle, kLogError, "[ERROR] -Can't send packet resend command\n");
        return false;
    }
    // A lost leader is asked for as packet 0 alone.
    m_state.statistics.resendRequested += first == 0 ? 1 : last - first + 1;
    if (first == 0) {
        auto& asked = m_state.assembly.askedLeaders;
        asked.push_back({block->blockId, m_now()});
        if (asked.size() > AssemblyState::kAskedLeadersKept) asked.pop_front();
    }
    return true;
}

void StreamReceiver::AdvanceCurrentBlockId(uint64_t id) {
    AssemblyState& assembly = m_state.assembly;
    const uint64_t mask = assembly.blockIdMask;
    const uint64_t ahead = (id - assembly.currentBlockId) & mask;
    if (assembly.currentBlockId == 0 || IsRestart(id) || (ahead != 0 && ahead <= mask / 2))
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
    const uint32_t now = m_now();
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
    const uint64_t size = settings.packetDataSize;
    if (size == 0 || bytes == 0) return;
    uint64_t needed = bytes / size + (bytes % size != 0 ? 1 : 0) + (settings.extraPacket ? 1 : 0);
    if (bytes > settings.payloadSize) {
        // What does not fit is neither stored nor asked for again.
        block->overflow = true;
        needed = std::min<uint64_t>(needed, settings.packetsPerBlock);
    }
    const uint64_t capacity = block->packetMap.size();
    if (needed > capacity) {
        block->overflow = true;
        needed = capacity;
    }
    // Only ever fewer: a short trailer cuts rows, it adds none.
    if (block->countKnown && needed >= block->packetCount) return;
    SetPacketCount(block, static_cast<uint32_t>(needed));
    // Its last packet is a short one.
    m_state.assembly.packetSizeCheckOff = true;
}

void StreamReceiver::SetPacketCount(GevBufferDescriptor* block, uint32_t count) {
    block->packetCount = std::min<uint32_t>(count, static_cast<uint32_t>(block->packetMap.size()));
    block->countKnown = true;
    RecountMissing(block);
}

void StreamReceiver::RecountMissing(GevBufferDescriptor* block) {
    uint32_t missing = 0;
    for (uint32_t i = 0; i < block->packetCount; ++i) {
        const uint8_t entry = block->packetMap[i];
        // A short packet is whole only as the block's last one.
        if (entry == kPacketReceived || (entry == kPacketShort && i + 1 == block->packetCount))
            continue;
        ++missing;
    }
    block->missingPackets = missing;
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
        const bool wanted = entry == kPacketMissing || (entry == kPacketShort && id < count);
        if (wanted) {
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
    // Without its leader the block is known by its trailer alone.
    if (!block->leaderSeen) block->payloadType = type;
    // A trailer without size Y (shorter, or 0) cuts nothing: the leader's height stands.
    const bool hasSizeY = size >= header.size + Gvsp::kTrailerSizeY + 4 && word != 0;
    if (Gvsp::IsImage(type)) {
        // A trailer only ever cuts rows: one that claims more is not believed.
        if (hasSizeY && block->leaderSeen && word < block->sizeY) {
            block->trailerSizeY = word;
            // The packets of the cut-off rows are never sent.
            m_state.assembly.packetSizeCheckOff = true;
            const uint64_t bytes = Gvsp::ImageBytes(block->pixelFormat, block->sizeX, word,
                                                    block->paddingX, block->paddingY);
            if (type == Gvsp::kImage && bytes != 0) {
                block->dataSize = bytes;
                ExpectBytes(block, bytes);
            }
        }
        if (type == Gvsp::kImageWithChunk) {
            block->chunkDataLength = static_cast<uint32_t>(
                Gvsp::Field(data, size, header, Gvsp::kTrailerChunkLength, 4));
            block->chunkLayoutId = static_cast<uint32_t>(
                Gvsp::Field(data, size, header, Gvsp::kTrailerChunkLayout, 4));
            // The chunk payload length counts the whole payload, image included.
            if (block->chunkDataLength != 0) block->dataSize = block->chunkDataLength;
        }
    } else if (type == Gvsp::kChunk || type == Gvsp::kExtendedChunk) {
        block->chunkDataLength = word;
        if (word != 0) block->dataSize = word;
    } else if (type == Gvsp::kMultiPart || type == Gvsp::kMultiPartWithChunk) {
        Gvsp::ParsePartTrailer(data, size, header, &block->parts);
    }
    // The trailer's packet ID follows the block's last data packet: it tells how
    // many there were when the leader could not (variable sizes, own headers).
    if (!block->countKnown && header.packetId >= 1) {
        // Generic data packets past the buffer's own have no room: not waited for.
        const uint64_t room =
            block->ownOffsets ? block->packetMap.size() : m_state.settings.packetsPerBlock;
        uint64_t packets = header.packetId - 1;
        if (packets > room) {
            block->overflow = true;
            packets = room;
        }
        SetPacketCount(block, static_cast<uint32_t>(packets));
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
        assembly.previous = nullptr;
        Deliver(previous);
        if (same) return;
    }
    GevBufferDescriptor* target = nullptr;
    if (assembly.current != nullptr && assembly.current->blockId == id) target = assembly.current;
    if (assembly.early != nullptr && assembly.early->blockId == id) target = assembly.early;
    if (target == nullptr) {
        // The trailer of the next block came before any other of its packets: the
        // block starts here, and its packets, still on their way, are not asked for.
        target = FindOrOpenBlock(header);
        if (target == nullptr) return;
        target->nextPacket = 1;
        target->outOfOrder = true;
    }

    target->trailerSeen = true;
    // First what the trailer tells of the block's end, so that only packets that
    // exist are asked for again.
    ApplyTrailer(target, data, size, header);
    if (target->missingPackets != 0 && !target->outOfOrder && m_state.settings.resendEnabled)
        ScanForResends(target);
    // Without its leader the block waits, asked for or not: a leader that was only
    // overtaken comes next, and the block goes out as it is once a later one pushes.
    RequestLostLeader(target);
    if (target->missingPackets == 0 && target->leaderSeen) {
        DeviceLog(m_handle, kLogTrace, "Sending current buffer (no missing packets)\n");
        if (assembly.current == target) assembly.current = nullptr;
        if (assembly.early == target) assembly.early = nullptr;
        Deliver(target);
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
    const uint64_t id = header.blockId;
    const uint32_t packetId = header.packetId;
    PacketPlace place;
    if (packetId == 0 || !LocatePacket(data, size, header, &place)) return;

    GevBufferDescriptor* block = FindOrOpenBlock(header);
    if (block == nullptr) return;
    if (place.ownOffset) block->ownOffsets = true;
    const uint32_t capacity = static_cast<uint32_t>(block->packetMap.size());
    const uint32_t last = block->countKnown ? block->packetCount : capacity;
    if (packetId > last) {
        // Past the packet map the block cannot fit the buffer; past a known count
        // (an image smaller than the buffer) the packet is not part of the block.
        if (packetId > capacity) block->overflow = true;
        if (!assembly.packetLargerSeen) {
            DeviceLog(m_handle, kLogWarning,
                      "[WARNING] -[BlockID %lld] Packet number is larger than maximum (%d > %d)\n",
                      id, packetId, last);
            assembly.packetLargerSeen = true;
        }
        return;
    }
    if (!place.ownOffset && packetId < last && place.length != settings.packetDataSize &&
        !assembly.packetSizeCheckOff) {
        DeviceLog(m_handle, kLogError,
                  "[ERROR] - [BlockID %lld] Packet size is not equal as the stream channel packet "
                  "size (SCPS). %d -> %d, %d\n",
                  id, place.length, settings.packetDataSize, packetId);
        assembly.packetSizeCheckOff = true;
    }
    if (settings.resendEnabled) RequestGap(block, packetId);
    // A packet sent again (or late) does not move the expected one back: the
    // next packet in order would otherwise look like a gap and spend the budget.
    block->nextPacket = std::max(block->nextPacket, packetId + 1);
    StorePacket(block, packetId, data, place, header);

    if (assembly.previous == block && block->countKnown && block->missingPackets == 0 &&
        block->leaderSeen) {
        DeviceLog(m_handle, kLogTrace,
                  "Sending previous buffer: blockID reached %lld and missing packets is 0\n", id);
        assembly.previous = nullptr;
        Deliver(block);
        return;
    }
    FinishIfWhole(block);
}

bool StreamReceiver::FinishIfWhole(GevBufferDescriptor* block) {
    // Its trailer came early (packets out of order): the last packet completes it.
    if (!block->trailerSeen || !block->leaderSeen || !block->countKnown ||
        block->missingPackets != 0)
        return false;
    AssemblyState& assembly = m_state.assembly;
    for (GevBufferDescriptor** open : {&assembly.early, &assembly.current, &assembly.previous})
        if (*open == block) *open = nullptr;
    Deliver(block);
    return true;
}

bool StreamReceiver::LocatePacket(const uint8_t* data, size_t size, const Gvsp::Header& header,
                                  PacketPlace* place) const {
    if (header.format == Gvsp::kPayloadMultiPart || header.format == Gvsp::kPayloadGenDC) {
        Gvsp::Placement own;
        if (!Gvsp::ParsePlacement(data, size, header, &own)) return false;
        place->offset = own.offset;
        place->from = own.from;
        place->length = own.length;
        place->declared = own.declared;
        place->part = own.part;
        place->ownOffset = true;
        place->inPart = header.format == Gvsp::kPayloadMultiPart;
        return true;
    }
    place->offset = uint64_t{header.packetId - 1} * m_state.settings.packetDataSize;
    place->from = header.size;
    place->length = place->declared = size - header.size;
    return true;
}

GevBufferDescriptor* StreamReceiver::FindOrOpenBlock(const Gvsp::Header& header) {
    AssemblyState& assembly = m_state.assembly;
    const uint64_t id = header.blockId;
    for (GevBufferDescriptor* open : {assembly.early, assembly.current, assembly.previous})
        if (open != nullptr && open->blockId == id) return open;
    // The first block of an acquisition may have lost its leader too: any ID follows none.
    const bool follows = assembly.currentBlockId == 0 || id == Successor(assembly.currentBlockId);
    if (!follows || (header.flags & Gvsp::kFlagResent)) return nullptr;
    if (AlreadyAccounted(id)) return nullptr;
    DeviceLog(m_handle, kLogTrace,
              "no existing buffer could host packet with [BlockID %lld] (expected [BlockID "
              "%lld])\n",
              id, assembly.currentBlockId);
    if (assembly.early != nullptr) return nullptr;
    GevBufferDescriptor* block = TakeFreeSlot(id);
    // The block after this one may lose its leader too; and without a slot, the
    // rest of this block is not taken for a new one.
    AdvanceCurrentBlockId(id);
    if (block == nullptr) return nullptr;
    StartBlock(block, id);
    block->nextPacket = header.packetId;
    assembly.early = block;
    assembly.packetLargerSeen = false;
    return block;
}

void StreamReceiver::RequestGap(GevBufferDescriptor* block, uint32_t packetId) {
    const StreamSettings& settings = m_state.settings;
    if (block->packetMap[packetId - 1] != kPacketMissing) return;
    const uint32_t expected = block->nextPacket;
    if (packetId < expected) {
        block->outOfOrder = true;
        DeviceLog(m_handle, kLogWarning, "[WARNING] -Packets out of order [%lld]\n",
                  block->blockId);
        return;
    }
    if (packetId == expected || block->resendIssued >= settings.resendCount) return;
    const uint32_t first = expected;
    const uint32_t budget = settings.resendCount - block->resendIssued;
    const uint32_t losses = packetId - expected;
    uint32_t end = packetId;
    if (losses > budget) {
        DeviceLog(m_handle, kLogTrace, "Only requesting %d packet resends for %d losses\n", budget,
                  losses);
        end = first + budget;
    }
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

uint64_t StreamReceiver::ExpectedLength(const GevBufferDescriptor& block, uint32_t packetId) const {
    const StreamSettings& settings = m_state.settings;
    const uint64_t size = settings.packetDataSize;
    if (block.dataSize != 0 && block.dataSize != Gvsp::kSizeOverflow) {
        const uint64_t start = uint64_t{packetId - 1} * size;
        // Past the data: the extra packet of zeros, whatever its length.
        if (start >= block.dataSize) return 0;
        return std::min(size, block.dataSize - start);
    }
    if (block.countKnown) return packetId < block.packetCount ? size : 0;
    return 0;
}

void StreamReceiver::StorePacket(GevBufferDescriptor* block, uint32_t packetId, const uint8_t* data,
                                 const PacketPlace& place, const Gvsp::Header& header) {
    const StreamSettings& settings = m_state.settings;
    uint8_t& entry = block->packetMap[packetId - 1];
    if (entry == kPacketReceived) return;  // a duplicate
    const bool last = block->countKnown && packetId == block->packetCount;
    size_t length = place.length;
    bool isShort = false;
    uint64_t offset = place.offset;
    if (place.inPart) {
        // Placed within its part: without the leader's part table it has no place yet.
        if (place.part >= block->parts.size() ||
            offset > ~uint64_t{0} - block->parts[place.part].start)
            length = 0;
        else
            offset += block->parts[place.part].start;
    }
    if (place.ownOffset) {
        // It says how much it carries: fewer bytes are missing data.
        if (place.length < place.declared) length = 0;
    } else {
        const uint64_t expected = ExpectedLength(*block, packetId);
        length = static_cast<size_t>(std::min<uint64_t>(length, settings.packetDataSize));
        if (expected != 0) {
            isShort = length < expected;
            length = static_cast<size_t>(std::min<uint64_t>(length, expected));
        } else {
            isShort = !last && length < settings.packetDataSize;
        }
    }
    if (length == 0) {
        DeviceLog(m_handle, kLogTrace, "[BlockID %lld] packet %d carries no data: %d bytes\n",
                  block->blockId, packetId, place.length);
        return;
    }
    // A short packet is whole only as the block's last one, which a short
    // trailer may tell later; until then it is kept, and missing.
    if (entry == kPacketShort && isShort) return;  // no better than the one kept
    const bool wasMissing = entry != kPacketShort || !last;
    const bool isMissing = isShort && !last;
    if (block->countKnown && wasMissing && !isMissing && block->missingPackets > 0)
        --block->missingPackets;
    if (settings.resendEnabled && entry == kPacketRequested && block->resendRequested > 0) {
        // 16-bit headers carry no resent flag: a packet that was asked for is
        // taken as the answer.
        if ((header.flags & Gvsp::kFlagResent) || !header.extended) {
            ++block->resendReceived;
            ++m_state.statistics.resentPackets;
        } else
            --block->resendRequested;
    }
    entry = isShort ? kPacketShort : kPacketReceived;
    if (place.ownOffset) block->bytesReceived += length;

    // No copy reaches past the payload size: what does not fit makes the block
    // incomplete and larger than its buffer.
    const uint64_t end = offset > ~uint64_t{0} - length ? Gvsp::kSizeOverflow : offset + length;
    block->dataEnd = std::max(block->dataEnd, end);
    if (end > settings.payloadSize) {
        block->overflow = true;
        DeviceLog(m_handle, kLogTrace, "[BlockID %lld] data ends at %lld, past the buffer (%d)\n",
                  block->blockId, end, settings.payloadSize);
    }
    if (offset < settings.payloadSize && block->data != nullptr) {
        const size_t stored =
            static_cast<size_t>(std::min<uint64_t>(length, settings.payloadSize - offset));
        std::memcpy(block->data + offset, data + place.from, stored);
        block->filled = std::max(block->filled, offset + stored);
    }
}

}  // namespace Vantor
