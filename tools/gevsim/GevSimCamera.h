// GevSim::Camera: one simulated GigE Vision camera serving GVCP and streaming GVSP on
// UDP, for tests in-process and for the gevsim program. Any thread may call any member;
// the camera runs a server thread and a stream thread of its own between Start() and Stop().
//
//   GevSim::CameraConfig config;
//   config.address = "127.0.0.2";
//   GevSim::Camera camera(config);
//   if (!camera.Start(&error)) ...;
//   camera.faults().DropAcks(1);
//   camera.SendEvent({/*eventId*/ 0x9000});
//   camera.SetRegister(0x0D18, host); camera.SetRegister(0x0D00, port);  // SCDA0, SCP0
//   camera.StartStreaming();
//   camera.faults().Stream().DropPackets(GevSim::StreamFaults::kEveryBlock, {2});
//
// Pixel values follow the test pattern documented in StreamPayload.h
// (Mono8, TestPattern Off: (x + y + blockId) & 0xFF).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Bootstrap.h"
#include "CameraConfig.h"
#include "CommandLog.h"
#include "EventMessage.h"
#include "Faults.h"
#include "StreamStatistics.h"

namespace GevSim {

class Camera {
public:
    using EventMessage = GevSim::EventMessage;

    explicit Camera(CameraConfig config);
    ~Camera();  // stops and joins
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Opens the sockets (in config.netns, when set) and starts serving. True when
    // serving (also when it already was); otherwise explains in `error`.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool Running() const;

    // The register model directly, without GVCP or privilege checks. Unmapped
    // addresses read as 0; SetRegister keeps PayloadSize consistent.
    uint32_t Register(uint32_t address) const;
    void SetRegister(uint32_t address, uint32_t value);

    // Misbehaviour switches, effective at once.
    Faults& faults();

    // Power cycle: privilege released, message and stream channels closed, volatile
    // registers back to defaults; identity, user name and current address are kept.
    void Reboot();

    // Sends one event to MCDA:MCP from the message socket. True when acknowledged
    // (retrying per MCTT/MCRC), or when sent and no acknowledge was asked for. False
    // when the channel is closed or the capability (EVENT/EVENTDATA) is off.
    bool SendEvent(const EventMessage& event, uint16_t* requestIdUsed = nullptr);

    // Acquisition as AcquisitionStart/AcquisitionStop do it: blocks go to SCDA0:SCP0
    // while the channel is open, per AcquisitionMode, AcquisitionFrameRate, PayloadType.
    void StartStreaming();
    void StopStreaming();
    StreamStatistics StreamStats() const;
    // The next block gets this id (16-bit mode wraps it into 1..0xFFFF); Reboot goes
    // back to config().firstBlockId.
    void SetNextBlockId(uint64_t blockId);

    // Every well-formed GVCP command received (also while silent), oldest first.
    std::vector<ReceivedCommand> ReceivedCommands() const;
    void ClearReceivedCommands();

    uint16_t MessageSourcePort() const;
    uint16_t StreamSourcePort() const;
    std::string Address() const;  // current address, dotted (changes with FORCEIP)
    uint16_t Port() const;
    const CameraConfig& config() const;

    // The GenApi XML the camera serves through its first URL.
    static std::string_view Xml();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace GevSim
