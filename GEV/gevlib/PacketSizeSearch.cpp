// The packet size test: one GVSP test packet at the camera's current packet
// size, and the search for the largest size that arrives unfragmented.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Adapters.h"
#include "Bootstrap.h"
#include "GevLog.h"
#include "GvspPackets.h"
#include "StreamInternal.h"
#include "UdpUtility.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

constexpr uint32_t kDefaultMtu = 1500;
constexpr uint16_t kDefaultMaximum = 20000;
constexpr uint32_t kSearchLimitMs = 5000;

// Closes the temporary socket of a test on every way out.
struct TemporarySocket {
    Platform::SocketHandle socket = Platform::kInvalidSocket;
    ~TemporarySocket() { CloseUdpSocket(socket); }
};

}  // namespace

GevStatus GEVTestPacket(uint8_t handle, int32_t* receivedSize) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    // The stream socket is read, drained and waited on: not while another thread
    // opens or closes the channel.
    std::lock_guard<std::recursive_mutex> streamGuard(slot->streamLock);
    DeviceRecord& record = slot->record;
    if (receivedSize != nullptr) *receivedSize = 0;
    const uint32_t headers = record.gevMajor <= 1 ? kHeadersLegacy : kHeadersExtended;

    TemporarySocket temporary;
    Platform::SocketHandle socket = record.streamSocket;
    if (record.streamPort != 0 && socket != Platform::kInvalidSocket) {
        const size_t drained = FlushStreamSocket(socket, record.packetDataSize + headers);
        if (drained > 0)
            DeviceLog(handle, kLogInfo, "[INFO] -Flush stream channel socket [%d].\n", drained);
    } else {
        temporary.socket = OpenUdpSocket(record.hostAddress, 0, false, false, true);
        if (temporary.socket == Platform::kInvalidSocket) return kGevSocketCreateFailed;
        socket = temporary.socket;
        const uint32_t port = Platform::BoundPort(socket);
        if (port == 0) return kGevMulticastFailed;
        DeviceLog(handle, kLogVerbose, "Set new stream channel port %d for GEVTestPacket\n", port);
        if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kStreamPort, 1, &port))
            return status;
        uint32_t destination = 0;
        if (GevStatus status =
                GEVReadRegister(handle, Bootstrap::kStreamDestination, 1, &destination))
            return status;
        if (destination == 0) {
            destination = Platform::NetworkToHost32(record.hostAddress);
            if (GevStatus status =
                    GEVWriteRegister(handle, Bootstrap::kStreamDestination, 1, &destination))
                return status;
        }
        uint32_t capability = 0, sourcePort = 0;
        if (GEVReadRegister(handle, Bootstrap::kGvspCapability, 1, &capability) == kGevOk &&
            (capability & Bootstrap::kCapSourcePort) != 0 &&
            GEVReadRegister(handle, Bootstrap::kStreamSourcePort, 1, &sourcePort) == kGevOk) {
            static constexpr uint8_t kKeepAlive[4] = {0x78, 0x56, 0x34, 0x12};
            if (Platform::SendTo(socket, kKeepAlive, sizeof kKeepAlive, record.cameraAddress,
                                 static_cast<uint16_t>(sourcePort)) < 0)
                DeviceLog(handle, kLogError, "[ERROR] -Send to stream channel source port. (%d)\n",
                          sourcePort);
        }
    }

    uint32_t packetSize = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPacketSize, 1, &packetSize))
        return status;
    uint32_t fire =
        packetSize | Bootstrap::kPacketSizeFireTest | Bootstrap::kPacketSizeDoNotFragment;
    if (GevStatus status = GEVWriteRegister(handle, Bootstrap::kStreamPacketSize, 1, &fire))
        return status;

    uint32_t timeoutMs = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(slot->controlLock);
        timeoutMs = record.commandTimeout;
    }
    if (Platform::WaitReadableMs(socket, timeoutMs) <= 0) return kGevOk;
    std::vector<uint8_t> buffer((((packetSize & 0xFFFF) - 48) & 0xFFFF) + 64);
    const int length = Platform::ReceiveFrom(socket, buffer.data(), buffer.size());
    if (length < static_cast<int>(Gvsp::kHeaderSize)) {
        DeviceLog(handle, kLogError, "[ERROR] -GEVTestPacket: No data received.\n");
        return kGevTestPacketFailed;
    }
    const size_t dataBytes = static_cast<size_t>(length) - Gvsp::kHeaderSize;
    if (buffer[2] != 0 || buffer[3] != 0)
        DeviceLog(handle, kLogError, "[ERROR] -GEVTestPacket: BlockID != 0.\n");
    if (receivedSize != nullptr) *receivedSize = static_cast<int32_t>(dataBytes + kHeadersLegacy);

    uint32_t capability = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kGvcpCapability, 1, &capability))
        return status;
    if ((capability & Bootstrap::kCapTestData) == 0) {
        DeviceLog(handle, kLogInfo, "[INFO] -GEVTestPacket: LFSR generator not supported.\n");
        return kGevOk;
    }
    DeviceLog(handle, kLogInfo, "[INFO] -GEVTestPacket: LFSR generator supported.\n");
    Gvsp::TestDataSequence expected;
    uint32_t errors = 0;
    for (size_t i = 0; i < dataBytes; ++i) {
        const uint8_t want = expected.Next();
        const uint8_t got = buffer[Gvsp::kHeaderSize + i];
        if (want == got) continue;
        if (++errors <= 9)
            DeviceLog(handle, kLogError,
                      "[ERROR] -GEVTestPacket: pos->%d expected->%02X current->%02X\n", i + 1, want,
                      got);
    }
    if (errors != 0) {
        DeviceLog(handle, kLogError, "[ERROR] -GEVTestPacket: %d data errors.\n", errors);
        return kGevTestPacketFailed;
    }
    DeviceLog(handle, kLogInfo, "[INFO] -GEVTestPacket: data ok.\n");
    return kGevOk;
}

namespace {

GevStatus SearchMaxPacketSize(DeviceSlot* slot, uint8_t handle, uint16_t* size, uint16_t minimum,
                              uint16_t maximum, uint16_t step) {
    uint32_t mtu = Platform::AdapterMtu(slot->record.hostAddress);
    if (mtu == 0) mtu = kDefaultMtu;
    if (maximum == 0) maximum = kDefaultMaximum;
    const int64_t top = std::min<int64_t>(maximum, mtu);
    const int64_t increment = std::max<uint16_t>(step, 4);
    int64_t low = minimum;
    int64_t high = top - minimum;
    int64_t offset = ((top - 2 * int64_t{minimum}) / 2) / increment * increment;
    int64_t previous = -1;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        uint32_t probe = static_cast<uint32_t>(std::max<int64_t>(minimum + offset, 0));
        uint32_t value =
            probe | Bootstrap::kPacketSizeFireTest | Bootstrap::kPacketSizeDoNotFragment;
        // Write the size without firing; the test fires it.
        value &= ~Bootstrap::kPacketSizeFireTest;
        bool passed = false;
        GevStatus status = GEVWriteRegister(handle, Bootstrap::kStreamPacketSize, 1, &value);
        if (status != kGevOk && status != kGevStatusInvalidParameter) return status;
        if (status == kGevOk) {
            uint32_t readBack = 0;
            if (GevStatus readStatus =
                    GEVReadRegister(handle, Bootstrap::kStreamPacketSize, 1, &readBack))
                return readStatus;
            probe = readBack & 0xFFFF;
            int32_t received = 0;
            if (probe <= mtu) {
                if (GevStatus testStatus = GEVTestPacket(handle, &received)) return testStatus;
                passed = received != 0;
            }
        }
        if (passed) {
            low = offset + increment;
        } else {
            if (low == high) low = offset - increment;
            high = offset - increment;
        }
        if (static_cast<int64_t>(probe) == previous) {
            if (passed && size != nullptr) *size = static_cast<uint16_t>(probe);
            return kGevOk;
        }
        previous = probe;
        if (passed && size != nullptr) *size = static_cast<uint16_t>(probe);
        offset = low + (high - low) / 2;
        if (offset % increment != 0)
            offset = passed ? offset / increment * increment : (offset / increment + 1) * increment;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (elapsed.count() > kSearchLimitMs) return kGevTimeout;
        std::this_thread::yield();
    }
}

}  // namespace

GevStatus GEVTestFindMaxPacketSize(uint8_t handle, uint16_t* size, uint16_t minimum,
                                   uint16_t maximum, uint16_t step) {
    DeviceSlot* slot = OpenSlot(handle);
    if (slot == nullptr) return kGevHandleNotOpen;
    if (size != nullptr) *size = 0;
    uint32_t original = 0;
    if (GevStatus status = GEVReadRegister(handle, Bootstrap::kStreamPacketSize, 1, &original))
        return status;
    uint16_t found = 0;
    const GevStatus status = SearchMaxPacketSize(slot, handle, &found, minimum, maximum, step);
    // The probes leave the register at the last size tried, which may be one
    // that failed: the camera keeps the size found, or its own when none was.
    uint32_t keep = original;
    if (found != 0) keep = (original & ~0xFFFFu & ~Bootstrap::kPacketSizeFireTest) | found;
    GEVWriteRegister(handle, Bootstrap::kStreamPacketSize, 1, &keep);
    if (size != nullptr) *size = found;
    return status;
}

}  // namespace Vantor
