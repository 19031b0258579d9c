// GevSim::Camera: one simulated GigE Vision camera serving GVCP on UDP, for tests
// in-process and for the gevsim program. Any thread may call any member; the camera
// runs one server thread of its own between Start() and Stop().
//
//   GevSim::CameraConfig config;
//   config.address = "127.0.0.2";
//   GevSim::Camera camera(config);
//   if (!camera.Start(&error)) ...;
//   camera.faults().DropAcks(1);
//   camera.SendEvent({/*eventId*/ 0x9000});
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
