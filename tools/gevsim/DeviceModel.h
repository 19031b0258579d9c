// The camera's registers and memory with their meaning: bootstrap registers, the
// GenApi XML, user registers, the control privilege and the timestamp counter.
// Thread-safe: one mutex guards all state; the GVCP server thread, the stream thread and
// test threads share it. The stream listener is called after every change, unlocked.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "CameraConfig.h"
#include "ControlPrivilege.h"
#include "MemoryMap.h"
#include "StreamPayload.h"

namespace GevSim {

class DeviceModel {
public:
    using Clock = std::chrono::steady_clock;

    explicit DeviceModel(const CameraConfig& config);

    // Host access through GVCP, under the privilege rules; each returns a GVCP status.
    uint16_t ReadRegister(const Host& host, uint32_t address, uint32_t* value);
    uint16_t WriteRegister(const Host& host, uint32_t address, uint32_t value);
    uint16_t ReadMemory(const Host& host, uint32_t address, uint8_t* out, size_t size);
    // `written` receives the bytes written before an error (all of them on success).
    uint16_t WriteMemory(const Host& host, uint32_t address, const uint8_t* data, size_t size,
                         size_t* written);

    // The 248-byte DISCOVERY_ACK payload: bootstrap bytes 0x0000..0x00F7.
    void DiscoveryPayload(uint8_t* out) const;

    // Heartbeat: a command from the primary application keeps its privilege.
    void NoteCommand(const Host& host, Clock::time_point now);
    // Releases the privilege of a primary that fell silent; true when it did.
    bool ExpireHeartbeat(Clock::time_point now);

    std::array<uint8_t, 6> Mac() const;
    uint32_t CurrentIp() const;
    void SetNetwork(uint32_t ip, uint32_t mask, uint32_t gateway);
    uint32_t GvcpCapability() const;

    struct MessageTarget {
        uint32_t ip = 0;
        uint16_t port = 0;  // 0: channel closed
        uint32_t timeoutMs = 0;
        uint32_t retries = 0;
    };
    MessageTarget MessageChannel() const;
    void SetSourcePorts(uint16_t messagePort, uint16_t streamPort);

    // What stream channel 0 is to send, read from its registers in one go.
    struct StreamState {
        uint32_t ip = 0;
        uint16_t port = 0;  // 0: channel closed
        uint32_t packetSize = 0;
        bool doNotFragment = false;
        uint32_t delayTicks = 0;
        bool extraPacket = false;
        bool extendedIds = false;
        StreamFormat format;
        bool acquiring = false;
        uint64_t generation = 0;  // counts AcquisitionStart commands
        uint32_t mode = 0;        // UserRegister::kAcquisition*
        uint32_t frameCount = 1;
        float frameRate = 0;  // 0: as fast as possible
    };
    StreamState Stream() const;
    // Called (unlocked, on the writer's thread) after any register may have changed,
    // so that the stream thread looks again. Set once, before any thread runs.
    void SetStreamListener(std::function<void()> listener);
    void StartAcquisition();
    void StopAcquisition();
    // The sender finished a SingleFrame/MultiFrame acquisition; ignored when another
    // AcquisitionStart came meanwhile.
    void EndAcquisition(uint64_t generation);
    // Test packets asked for by writing SCPS bit 31 since the last call.
    uint32_t TakeTestPacketRequests();
    // Test events asked for by TestEventGenerate since the last call.
    uint32_t TakeTestEventRequests();
    uint64_t Timestamp() const;  // ticks of the timestamp counter now

    // Device-side access for tests: no privilege or access checks. Peek of an
    // unmapped address gives 0; Poke keeps derived registers (PayloadSize) right.
    uint32_t Peek(uint32_t address) const;
    void Poke(uint32_t address, uint32_t value);

    // Power cycle: volatile registers back to their defaults, privilege released,
    // channels closed. Identity, user-defined name and current IP are kept.
    void Reboot();

private:
    // A packet size as this camera takes it (rounded down to its granularity).
    uint32_t RoundPacketSize(uint32_t size) const;

    void BuildLocked();
    void MapString(uint32_t address, uint32_t size, const std::string& text, Access access);
    uint16_t WriteWordLocked(const Host& host, uint32_t address, uint32_t value);
    uint16_t WriteUserRegisterLocked(uint32_t address, uint32_t value);
    void UpdatePayloadSizeLocked();
    void CloseChannelsLocked();
    void StartAcquisitionLocked();
    StreamFormat FormatLocked() const;
    void NotifyStream() const;

    const CameraConfig config_;
    mutable std::mutex mutex_;
    MemoryMap memory_;
    ControlPrivilege privilege_;
    Clock::time_point timestampEpoch_;
    uint64_t generation_ = 0;
    uint32_t testPackets_ = 0;
    uint32_t testEvents_ = 0;
    std::function<void()> streamListener_;
};

}  // namespace GevSim
