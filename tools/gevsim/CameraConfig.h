// What a simulated camera is: identity, network address, protocol version,
// capabilities and image defaults. Plain data, copied into the camera at construction.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace GevSim {

// Bits of the GVCP capability register (0x0934) the simulator can announce.
namespace Capability {
constexpr uint32_t kUserDefinedName = 0x80000000;
constexpr uint32_t kSerialNumber = 0x40000000;
constexpr uint32_t kHeartbeatDisable = 0x20000000;
constexpr uint32_t kLinkSpeed = 0x10000000;
constexpr uint32_t kTestData = 0x02000000;  // the GVSP test packet carries the LFSR bytes
constexpr uint32_t kPendingAck = 0x00000020;
constexpr uint32_t kEventData = 0x00000010;
constexpr uint32_t kEvent = 0x00000008;
constexpr uint32_t kPacketResend = 0x00000004;
constexpr uint32_t kWriteMem = 0x00000002;
constexpr uint32_t kConcatenation = 0x00000001;  // several registers in one READREG/WRITEREG
// Everything implemented.
constexpr uint32_t kDefault = kUserDefinedName | kSerialNumber | kHeartbeatDisable | kLinkSpeed |
                              kTestData | kPendingAck | kEventData | kEvent | kPacketResend |
                              kWriteMem | kConcatenation;
}  // namespace Capability

// How the stream thread hands datagrams to the kernel; the bytes on the wire are the
// same in every mode.
enum class SendMode {
    Plain,  // one sendto per datagram
    Batch,  // sendmmsg, up to 64 datagrams per call, gathered from the kept block
    Gso,    // as Batch, runs of equal-size datagrams as one UDP_SEGMENT send each
};

// The mode a name stands for on a command line: "plain", "batch" or "gso".
inline bool ParseSendMode(std::string_view name, SendMode* mode) {
    constexpr std::pair<std::string_view, SendMode> kNames[] = {
        {"plain", SendMode::Plain}, {"batch", SendMode::Batch}, {"gso", SendMode::Gso}};
    for (const auto& [known, value] : kNames)
        if (name == known) {
            *mode = value;
            return true;
        }
    return false;
}

struct CameraConfig {
    std::string address = "127.0.0.1";  // dotted IPv4 the GVCP socket binds
    uint16_t port = 3956;
    // When not empty, every socket is opened inside this named network namespace
    // (/var/run/netns/<name>); the sockets stay there for their whole life.
    std::string netns;

    std::string manufacturer = "Tarvane";
    std::string model = "GEVSIM-1";
    std::string deviceVersion = "1.0";
    std::string manufacturerInfo = "GEVTLKRV camera simulator";
    std::string serial = "SIM0001";
    std::string userName;
    std::array<uint8_t, 6> mac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
    uint32_t subnetMask = 0;  // host order; 0 picks 255.0.0.0 for 127.x, else 255.255.255.0
    uint32_t gateway = 0;     // host order

    uint16_t versionMajor = 2;
    uint16_t versionMinor = 0;
    uint32_t heartbeatTimeoutMs = 3000;
    uint32_t gvcpCapability = Capability::kDefault;
    uint32_t messageChannels = 1;  // 0 or 1
    uint32_t streamChannels = 1;   // 0 or 1
    uint32_t linkSpeedMbps = 1000;

    uint32_t packetSize = 1500;
    // Packet sizes the camera takes: a written SCPS is rounded down to a multiple
    // of this (1: any size), as cameras with fixed packet granularity do.
    uint32_t packetSizeGranularity = 1;
    uint32_t width = 640;
    uint32_t height = 480;
    uint32_t widthMax = 2048;
    uint32_t heightMax = 2048;
    uint32_t pixelFormat = 0x01080001;  // Mono8
    uint32_t paddingX = 0;              // zero bytes after each image line

    // Streaming (GVSP). payloadType: 0x0001 image, 0x4001 image + extended chunk,
    // 0x0002 raw data, 0x0004 chunk data, 0x0006 JPEG, 0x000A multi-part, 0x000B
    // GenDC; the PayloadType register starts with it.
    uint16_t payloadType = 0x0001;
    // Parts of a multi-part block: 2 (image, confidence map) or 3 (Mono16 range,
    // image, confidence map).
    uint32_t multiPartParts = 2;
    // Initial AcquisitionFrameRate (1..100 per second); 0: as fast as it can, whatever
    // the register says.
    float frameRate = 30.0f;
    bool extendedIds = false;     // initial GVSP configuration bit 30 (64-bit block ids)
    uint32_t resendHistory = 16;  // blocks kept for PACKETRESEND
    uint64_t firstBlockId = 1;    // first block id after start or reboot
    SendMode sendMode = SendMode::Plain;
    // TestPattern at power-up: 0 Off (a diagonal ramp moving with the block ID),
    // 1 GreyHorizontalRamp, 2 GreyVerticalRamp (both moving), 3 GreyDiagonalRamp (still).
    uint32_t testPattern = 0;
    // Tests: the stream socket sends without UDP checksums, so the kernel refuses the
    // first UDP_SEGMENT send and Gso falls back to Batch.
    bool refuseGso = false;

    // With flag 0x10 set in a DISCOVERY or FORCEIP command, answer to 255.255.255.255
    // as a device that knows it cannot be reached by unicast would.
    bool broadcastAckWhenAllowed = false;

    // Optional diagnostic sink, called on the server thread (gevsim --verbose).
    std::function<void(const std::string&)> log;
};

}  // namespace GevSim
