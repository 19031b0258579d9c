// The ring of an acquisition and the receive thread that fills it.
#include <algorithm>
#include <mutex>
#include <new>

#include "Clock.h"
#include "GevLog.h"
#include "GvcpPackets.h"
#include "GvspPackets.h"
#include "ReceiveBatch.h"
#include "StreamInternal.h"
#include "StreamReceiver.h"

namespace Vantor {
namespace {

// Packets a block may carry: those with a multi-part or GenDC header hold fewer
// data bytes, so a full payload needs more of them than of generic ones.
uint32_t PacketMapSize(const StreamSettings& settings) {
    const uint64_t perPacket = settings.packetDataSize > Gvsp::kGenDCHeader
                                   ? settings.packetDataSize - Gvsp::kGenDCHeader
                                   : settings.packetDataSize;
    if (perPacket == 0) return settings.packetsPerBlock;
    const uint64_t packets = (uint64_t{settings.payloadSize} + perPacket - 1) / perPacket + 1 +
                             (settings.extraPacket ? 1 : 0);
    return static_cast<uint32_t>(std::max<uint64_t>(packets, settings.packetsPerBlock));
}

}  // namespace

// Datagrams read per system call where the system reads batches.
constexpr size_t kReceiveBatch = 64;

bool BuildRing(StreamState& stream) {
    const StreamSettings& settings = stream.settings;
    FreeRing(stream);
    try {
        const uint16_t count = std::max<uint16_t>(stream.bufferCount, 1);
        const uint32_t mapSize = PacketMapSize(settings);
        for (uint16_t i = 0; i < count; ++i) {
            auto descriptor = std::make_unique<GevBufferDescriptor>();
            descriptor->index = i;
            descriptor->packetDataSize = settings.packetDataSize;
            if (i < stream.userBuffers.size() && stream.userBuffers[i] != nullptr) {
                descriptor->data = stream.userBuffers[i];
            } else {
                descriptor->ownData.assign(settings.payloadSize, 0);
                descriptor->data = descriptor->ownData.data();
            }
            descriptor->packetMap.assign(mapSize, kPacketMissing);
            stream.ring.push_back(std::move(descriptor));
        }
        stream.packetOffsets.resize(settings.packetsPerBlock);
        for (uint32_t i = 0; i < settings.packetsPerBlock; ++i)
            stream.packetOffsets[i] = i * settings.packetDataSize;
    } catch (const std::bad_alloc&) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(stream.imageLock);
        stream.imageSignalled = false;
        stream.waitAborted = false;
        stream.receiveEnded = false;
    }
    stream.queued.Clear();
    stream.delivered.Clear();
    std::vector<bool> marked;
    marked.swap(stream.userSlotsQueued);
    for (auto& descriptor : stream.ring) {
        const size_t i = descriptor->index;
        // A user buffer is written only once the consumer queued it: until then
        // it is the consumer's, as if handed out.
        if (i < stream.userBuffers.size() && (i >= marked.size() || !marked[i])) {
            descriptor->handedOut = true;
            continue;
        }
        stream.queued.Append(descriptor.get());
    }
    stream.ringReady = true;
    return true;
}

void FreeRing(StreamState& stream) {
    stream.ringReady = false;
    stream.assembly.held.clear();
    stream.queued.Clear();
    stream.delivered.Clear();
    stream.ring.clear();
    stream.packetOffsets.clear();
}

bool SendPacketResend(DeviceSlot& slot, uint64_t blockId, uint32_t first, uint32_t last,
                      bool extended) {
    DeviceRecord& record = slot.record;
    StreamState& stream = slot.stream;
    const uint8_t handle = record.ownHandle;
    if (extended)
        DeviceLog(handle, kLogTrace,
                  "Issueing resend request for packets [%d..%d] of block %lld(gv=2)\n", first, last,
                  blockId);
    else
        DeviceLog(handle, kLogTrace, "Issueing resend request for packets [%d..%d] of block %d\n",
                  first, last, blockId);
    uint8_t command[Gvsp::kResendExtendedSize];
    // Not the control lock: a register access holds it until its answer comes, and
    // the stream does not wait that long. No answer comes to this request.
    std::lock_guard<std::mutex> guard(slot.controlSocketLock);
    // Request ID 0 is not a valid GVCP request: the counter runs 1..65535.
    if (++stream.resendRequestId == 0) stream.resendRequestId = 1;
    const size_t size =
        Gvsp::BuildPacketResend(command, stream.resendRequestId, blockId, first, last, extended);
    const int sent =
        Platform::SendTo(record.controlSocket, command, size, record.cameraAddress, Gvcp::kPort);
    if (sent != static_cast<int>(size)) {
        DeviceLog(handle, kLogWarning,
                  "[WARNING] -Failed to send %d bytes packet resend request (%d only), error %d\n",
                  size, sent, Platform::LastSocketError());
        return false;
    }
    return true;
}

void GrabThread(DeviceSlot* slot) {
    DeviceRecord& record = slot->record;
    StreamState& stream = slot->stream;
    const uint8_t handle = record.ownHandle;
    Platform::ReceiveBatch batch(record.streamSocket, stream.settings.packetDataSize + 100,
                                 kReceiveBatch);
    // Runs of datagrams from the camera may come in one buffer where the system can.
    const bool coalescing = batch.EnableCoalescing();
    stream.assembly = AssemblyState{};
    StreamReceiver receiver(handle, stream,
                            [slot](uint64_t block, uint32_t first, uint32_t last, bool extended) {
                                return SendPacketResend(*slot, block, first, last, extended);
                            });
    DeviceLog(handle, kLogVerbose, "Entering grab_func loop with rcvbuf_size = %d\n",
              stream.settings.packetDataSize + 100);
    DeviceLog(handle, kLogVerbose, "Receive offload on the stream socket: %s\n",
              coalescing ? "on" : "off");
    bool versionChecked = false;
    bool leave = false;
    uint64_t strangers = 0;
    int64_t lastLength = -1;
    const uint32_t waitMs = record.packetTimeout;
    while (!leave && record.acquisitionIdle == 0) {
        const int ready = batch.Receive(waitMs);
        for (int i = 0; i < ready; ++i) {
            const Platform::Datagram& datagram = batch[i];
            const int64_t length = static_cast<int64_t>(datagram.size);
            // A unicast stream comes from the camera alone: nothing else may land in an image.
            if (length > 0 && record.multicastGroup == 0 &&
                datagram.address != record.cameraAddress) {
                ++strangers;
                continue;
            }
            if (length != lastLength) {
                DeviceLog(handle, kLogVerbose, "recieve length : %d\n", length);
                lastLength = length;
            }
            if (record.acquisitionIdle != 0) {
                if (stream.assembly.current == nullptr)
                    DeviceLog(handle, kLogInfo, "[INFO] -Acknowledge kill request despites data\n");
                if (stream.assembly.packetLargerSeen)
                    DeviceLog(handle, kLogInfo,
                              "[INFO] -Acknowledge kill request with PacketLarger\n");
                leave = true;
                break;
            }
            if (length >= 8) receiver.HandlePacket(datagram.data, datagram.size);
            if (!versionChecked && stream.assembly.blockIdMode != BlockIdMode::Unknown) {
                versionChecked = true;
                const int gvspVersion = static_cast<int>(stream.assembly.blockIdMode);
                if (record.gevMajor != gvspVersion)
                    DeviceLog(handle, kLogWarning,
                              "[WARNING] -Version mismatch. GEV Version: %d, GVSP Version "
                              "(Extended ID): %d\n",
                              record.gevMajor, gvspVersion);
            }
            // The limit counts frames delivered: lost ones are not frames acquired.
            if (stream.frameLimit != 0 && stream.statistics.deliveredFrames >= stream.frameLimit) {
                record.acquisitionIdle = 1;
                leave = true;
                break;
            }
        }
        if (leave || ready > 0) continue;
        if (stream.assembly.current != nullptr)
            DeviceLog(handle, kLogTrace, "select() returned %d, pushing image buffer\n", ready);
        if (stream.assembly.previous != nullptr)
            DeviceLog(handle, kLogTrace, "select() returned %d, pushing previous buffer\n", ready);
        receiver.FlushOnSilence();
        if (record.acquisitionIdle != 0) {
            DeviceLog(handle, kLogInfo, "[INFO] -Acknowledge kill request\n");
            break;
        }
        // A broken socket would otherwise spin.
        if (ready < 0) Platform::SleepMs(std::max<uint32_t>(waitMs, 10));
    }
    if (strangers != 0)
        DeviceLog(handle, kLogWarning,
                  "[WARNING] -%llu datagrams from other senders than the camera were dropped\n",
                  strangers);
    DeviceLog(handle, kLogInfo, "[INFO] -GrabFunc leaving main loop\n");
    receiver.FlushAtEnd();
    {
        std::lock_guard<std::mutex> guard(stream.imageLock);
        stream.receiveEnded = true;
    }
    stream.imageArrived.notify_all();
}

}  // namespace Vantor
