// Serves GVCP for one camera: receives commands on its unicast and broadcast sockets,
// logs them, applies the faults, and sends the acknowledges. Threads: Start() spawns
// the server thread, which alone uses the sockets; Stop() (any thread) joins it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraConfig.h"
#include "CommandLog.h"
#include "Faults.h"
#include "GvcpCommands.h"
#include "UdpSocket.h"

namespace GevSim {

class DeviceModel;

class GvcpServer {
public:
    // Called on the server thread after FORCEIP moved the camera to a new address,
    // so that the message and stream sockets follow it.
    using AddressChanged = std::function<void(uint32_t ip)>;
    // Called on the server thread for each PACKETRESEND.
    using PacketResend = std::function<void(const ResendRequest&)>;

    GvcpServer(const CameraConfig& config, DeviceModel& model, Faults& faults, CommandLog& log,
               AddressChanged addressChanged, PacketResend packetResend);
    ~GvcpServer();
    GvcpServer(const GvcpServer&) = delete;
    GvcpServer& operator=(const GvcpServer&) = delete;

    bool Start(uint32_t ip, std::string* error);
    void Stop();

private:
    void Run();
    void HandleDatagram(const uint8_t* data, size_t size, const Host& sender, bool broadcast);
    void Acknowledge(const Request& request, std::vector<uint8_t> ack, const Faults::Plan& plan);
    bool Rebind(uint32_t ip);
    // Sleeps, but wakes at once when the server stops; false when stopping.
    bool Wait(std::chrono::milliseconds duration);
    void Log(const std::string& line) const;

    const CameraConfig& config_;
    DeviceModel& model_;
    Faults& faults_;
    CommandLog& log_;
    AddressChanged addressChanged_;
    PacketResend packetResend_;
    CommandHandler handler_;

    UdpSocket unicast_;    // camera address: receives and sends everything
    UdpSocket broadcast_;  // 255.255.255.255: receives DISCOVERY and FORCEIP
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex waitMutex_;
    std::condition_variable waitCondition_;
};

}  // namespace GevSim
