// Addresses and bit values of the GigE Vision bootstrap registers the simulated
// camera implements, and of its user registers (image and acquisition features).
#pragma once

#include <cstdint>

namespace GevSim::Bootstrap {

constexpr uint32_t kVersion = 0x0000;
constexpr uint32_t kDeviceMode = 0x0004;
constexpr uint32_t kMacHigh = 0x0008;
constexpr uint32_t kMacLow = 0x000C;
constexpr uint32_t kSupportedIpConfig = 0x0010;
constexpr uint32_t kCurrentIpConfig = 0x0014;
constexpr uint32_t kCurrentIp = 0x0024;
constexpr uint32_t kSubnetMask = 0x0034;
constexpr uint32_t kGateway = 0x0044;
constexpr uint32_t kManufacturer = 0x0048;      // 32 bytes
constexpr uint32_t kModel = 0x0068;             // 32 bytes
constexpr uint32_t kDeviceVersion = 0x0088;     // 32 bytes
constexpr uint32_t kManufacturerInfo = 0x00A8;  // 48 bytes
constexpr uint32_t kSerial = 0x00D8;            // 16 bytes
constexpr uint32_t kUserName = 0x00E8;          // 16 bytes, writable
constexpr uint32_t kFirstUrl = 0x0200;          // 512 bytes
constexpr uint32_t kSecondUrl = 0x0400;         // 512 bytes
constexpr uint32_t kNetworkInterfaces = 0x0600;
constexpr uint32_t kPersistentIp = 0x064C;
constexpr uint32_t kPersistentMask = 0x065C;
constexpr uint32_t kPersistentGateway = 0x066C;
constexpr uint32_t kLinkSpeed = 0x0670;
constexpr uint32_t kMessageChannels = 0x0900;
constexpr uint32_t kStreamChannels = 0x0904;
constexpr uint32_t kActionSignals = 0x0908;
constexpr uint32_t kActiveLinks = 0x0910;
constexpr uint32_t kGvspCapability = 0x092C;
constexpr uint32_t kMessageCapability = 0x0930;
constexpr uint32_t kGvcpCapability = 0x0934;
constexpr uint32_t kHeartbeatTimeout = 0x0938;
constexpr uint32_t kTickFrequencyHigh = 0x093C;
constexpr uint32_t kTickFrequencyLow = 0x0940;
constexpr uint32_t kTimestampControl = 0x0944;
constexpr uint32_t kTimestampHigh = 0x0948;
constexpr uint32_t kTimestampLow = 0x094C;
constexpr uint32_t kGvcpConfig = 0x0954;
constexpr uint32_t kPendingTimeout = 0x0958;
constexpr uint32_t kGvspConfig = 0x0960;
constexpr uint32_t kCcp = 0x0A00;
constexpr uint32_t kMcp = 0x0B00;
constexpr uint32_t kMcda = 0x0B10;
constexpr uint32_t kMctt = 0x0B14;
constexpr uint32_t kMcrc = 0x0B18;
constexpr uint32_t kMcsp = 0x0B1C;
constexpr uint32_t kScp0 = 0x0D00;
constexpr uint32_t kScps0 = 0x0D04;
constexpr uint32_t kScpd0 = 0x0D08;
constexpr uint32_t kScda0 = 0x0D18;
constexpr uint32_t kScsp0 = 0x0D1C;
constexpr uint32_t kScc0 = 0x0D20;
constexpr uint32_t kSccfg0 = 0x0D24;

constexpr uint32_t kStringSize = 32;
constexpr uint32_t kManufacturerInfoSize = 48;
constexpr uint32_t kShortStringSize = 16;  // serial number, user-defined name
constexpr uint32_t kUrlSize = 512;

// Device mode: bit 31 big-endian registers, class 0 (transmitter), character set 1 (UTF-8).
constexpr uint32_t kDeviceModeBigEndianUtf8 = 0x80000001;
// IP configuration bits: persistent IP, DHCP, link-local address.
constexpr uint32_t kIpConfigPersistent = 0x1;
constexpr uint32_t kIpConfigDhcp = 0x2;
constexpr uint32_t kIpConfigLla = 0x4;
// Capability register bit 31: the SCSPx / MCSP source port registers exist.
constexpr uint32_t kSourcePortSupported = 0x80000000;
// GVSP capability bit 30: 64-bit block ids (extended-id GVSP headers) can be enabled.
constexpr uint32_t kGvsp64BitBlockIdSupported = 0x40000000;
// GVSP configuration bit 30: 64-bit block ids enabled; the only writable bit.
constexpr uint32_t kGvspConfig64BitBlockIds = 0x40000000;
// CCP bits.
constexpr uint32_t kCcpExclusive = 0x1;
constexpr uint32_t kCcpControl = 0x2;
constexpr uint32_t kCcpSwitchoverEnable = 0x4;
// GVCP configuration: heartbeat disable.
constexpr uint32_t kGvcpConfigHeartbeatDisable = 0x1;
// Timestamp control values.
constexpr uint32_t kTimestampReset = 0x1;
constexpr uint32_t kTimestampLatch = 0x2;
// SCPS: bit 31 fires a test packet (write only, never stored), bit 30 asks for the IP
// do-not-fragment bit; the low 16 bits are the packet size, IP and UDP headers included.
constexpr uint32_t kScpsFireTestPacket = 0x80000000;
constexpr uint32_t kScpsDoNotFragment = 0x40000000;
constexpr uint32_t kScpsPacketSizeMask = 0x0000FFFF;
// SCCFG bit 0x80, extra-packet mode: every data packet leaves 16 bytes of the packet
// size unused and each block gets one more (zero) data packet, as the host expects.
constexpr uint32_t kSccfgExtraPacket = 0x00000080;
constexpr uint32_t kExtraPacketReserve = 16;
constexpr uint32_t kMinPacketSize = 576;
constexpr uint32_t kMaxPacketSize = 9000;
constexpr uint32_t kMinHeartbeatTimeoutMs = 500;
constexpr uint64_t kTickFrequency = 1000000000;  // 1 GHz timestamp counter

// Where the GenApi XML lives in device memory.
constexpr uint32_t kXmlAddress = 0x00100000;

}  // namespace GevSim::Bootstrap

namespace GevSim::UserRegister {

constexpr uint32_t kBase = 0x00010000;
constexpr uint32_t kWidth = 0x00010000;
constexpr uint32_t kHeight = 0x00010004;
constexpr uint32_t kPixelFormat = 0x00010010;
constexpr uint32_t kTestPattern = 0x00010014;
constexpr uint32_t kPayloadSize = 0x00010018;
constexpr uint32_t kAcquisitionMode = 0x0001001C;
constexpr uint32_t kAcquisitionStart = 0x00010020;
constexpr uint32_t kAcquisitionStop = 0x00010024;
constexpr uint32_t kAcquisitionFrameCount = 0x00010028;
constexpr uint32_t kAcquisitionFrameRate = 0x0001002C;  // IEEE float
constexpr uint32_t kWidthMax = 0x00010030;
constexpr uint32_t kHeightMax = 0x00010034;
constexpr uint32_t kTLParamsLocked = 0x00010038;
constexpr uint32_t kAcquisitionActive = 0x0001003C;  // read only: 1 between start and stop
constexpr uint32_t kPayloadType = 0x00010040;        // GVSP payload type of the blocks
constexpr uint32_t kTestEventGenerate = 0x00010044;  // write: one test event message
constexpr uint32_t kLast = kTestEventGenerate;

// Event ID of the test event: the first of the device-specific range.
constexpr uint16_t kTestEventId = 0x9000;

constexpr uint32_t kAcquisitionContinuous = 0;
constexpr uint32_t kAcquisitionSingleFrame = 1;
constexpr uint32_t kAcquisitionMultiFrame = 2;

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kMono10 = 0x01100003;
constexpr uint32_t kMono12 = 0x01100005;
constexpr uint32_t kMono16 = 0x01100007;

}  // namespace GevSim::UserRegister
