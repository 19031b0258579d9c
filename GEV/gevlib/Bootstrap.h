// Addresses and bits of the camera bootstrap registers that the library uses.
#pragma once

#include <cstdint>

namespace Vantor {
namespace Bootstrap {

constexpr uint32_t kVersion = 0x0000;
constexpr uint32_t kNumMessageChannels = 0x0900;
constexpr uint32_t kNumStreamChannels = 0x0904;
constexpr uint32_t kGvspCapability = 0x092C;
constexpr uint32_t kMessageCapability = 0x0930;
constexpr uint32_t kGvcpCapability = 0x0934;
constexpr uint32_t kHeartbeatTimeout = 0x0938;
constexpr uint32_t kGvspConfiguration = 0x0960;
constexpr uint32_t kControlPrivilege = 0x0A00;
constexpr uint32_t kMessagePort = 0x0B00;
constexpr uint32_t kMessageDestination = 0x0B10;
constexpr uint32_t kMessageSourcePort = 0x0B1C;
constexpr uint32_t kStreamPort = 0x0D00;
constexpr uint32_t kStreamPacketSize = 0x0D04;
constexpr uint32_t kStreamDestination = 0x0D18;
constexpr uint32_t kStreamPacketDelay = 0x0D08;
constexpr uint32_t kStreamSourcePort = 0x0D1C;
constexpr uint32_t kStreamConfiguration = 0x0D24;

// The source-port register exists (GVSP and message channel capabilities).
constexpr uint32_t kCapSourcePort = 0x80000000u;
constexpr uint32_t kCapEvent = 0x00000008u;
constexpr uint32_t kCapEventData = 0x00000010u;
constexpr uint32_t kCapPacketResend = 0x00000004u;
constexpr uint32_t kCapTestData = 0x02000000u;
// GVSP capability bits telling that the block-ID mode can be read.
constexpr uint32_t kCapBlockIdModeReadable = 0x40000002u;
constexpr uint32_t kConfigExtendedIds = 0x40000000u;
constexpr uint32_t kStreamConfigExtraPacket = 0x80u;
// Packet size register: fire one test packet, do not fragment.
constexpr uint32_t kPacketSizeFireTest = 0x80000000u;
constexpr uint32_t kPacketSizeDoNotFragment = 0x40000000u;

}  // namespace Bootstrap
}  // namespace Vantor
