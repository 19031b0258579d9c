// Turns one GVCP command into its acknowledge, acting on the DeviceModel. No sockets
// and no faults here: the server adds those. Called on the server thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ControlPrivilege.h"
#include "ResendRequest.h"

namespace GevSim {

class DeviceModel;

// A command datagram whose header checked out; `payload` holds `length` bytes.
struct Request {
    uint8_t flags = 0;
    uint16_t command = 0;
    uint16_t length = 0;
    uint16_t requestId = 0;
    const uint8_t* payload = nullptr;
    Host sender;
    bool broadcast = false;  // arrived on the broadcast socket

    bool AckRequired() const;
    // First register or memory address of READREG/WRITEREG/READMEM/WRITEMEM.
    std::optional<uint32_t> FirstAddress() const;
};

// False for anything that is not a well-formed GVCP command (wrong key, short).
bool ParseRequest(const uint8_t* data, size_t size, Request* request);

std::vector<uint8_t> MakeAck(uint16_t status, uint16_t ackCode, uint16_t ackId,
                             const std::vector<uint8_t>& payload = {});

struct Reply {
    std::vector<uint8_t> ack;  // empty: nothing to send
    // FORCEIP addressed to this camera: the network settings to take before acking.
    struct NewAddress {
        uint32_t ip = 0;  // 0: keep the current address
        uint32_t mask = 0;
        uint32_t gateway = 0;
    };
    std::optional<NewAddress> forceIp;
    // PACKETRESEND (never acknowledged): what the stream channel is to send again.
    std::optional<ResendRequest> resend;
};

class CommandHandler {
public:
    explicit CommandHandler(DeviceModel& model) : model_(model) {}
    Reply Handle(const Request& request);

private:
    std::vector<uint8_t> Discovery(const Request& request);
    Reply ForceIp(const Request& request);
    static std::optional<ResendRequest> PacketResend(const Request& request);
    std::vector<uint8_t> ReadRegisters(const Request& request);
    std::vector<uint8_t> WriteRegisters(const Request& request);
    std::vector<uint8_t> ReadMemory(const Request& request);
    std::vector<uint8_t> WriteMemory(const Request& request);

    DeviceModel& model_;
};

}  // namespace GevSim
