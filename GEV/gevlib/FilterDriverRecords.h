// The records exchanged with the krvGEVFilter packet filter driver: control
// codes, byte offsets, and pure builders and parsers (no I/O, no state).
// Numbers are little-endian; IPv4 addresses keep the network order in which
// the library holds them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "VantorLib.h"

namespace Vantor::FilterDriver {

// ---- Control request codes
constexpr uint32_t kCodeAdapterControl = 0x12C808;
constexpr uint32_t kCodeStart = 0x12C814;
constexpr uint32_t kCodeStop = 0x12C818;
constexpr uint32_t kCodePacketResend = 0x12C81C;
constexpr uint32_t kCodeVersion = 0x12C824;
constexpr uint32_t kCodeImageRecord = 0x12C828;
constexpr uint32_t kCodeStatistics = 0x12C82C;
constexpr uint32_t kCodeBufferCount = 0x12C830;
constexpr uint32_t kCodeOutOfOrder = 0x12C834;
constexpr uint32_t kCodeAnnounceBuffer = 0x12C83C;
constexpr uint32_t kCodeReleaseBuffers = 0x12C840;
constexpr uint32_t kCodeQueueSlot = 0x12C844;

// ---- System error numbers the driver answers with
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorSemaphoreTimeout = 121;  // no image within the image time-out
constexpr uint32_t kErrorBusy = 170;

// ---- Adapter control (520 bytes in; 4-byte error code out, 1-byte state in query mode)
namespace AdapterRecord {
constexpr size_t kName = 0;  // UTF-16LE, no terminator
constexpr size_t kNameCapacity = 512;
constexpr size_t kMaxNameUnits = 255;  // UTF-16 code units
constexpr size_t kNameLength = 512;    // u32, bytes
constexpr size_t kMode = 516;          // u32, AdapterMode
constexpr size_t kSize = 520;
constexpr size_t kAnswerSize = 4;  // u32 system error code, 0 = done
constexpr size_t kStateSize = 1;   // query mode: the adapter state
}  // namespace AdapterRecord

enum AdapterMode : uint32_t { kAdapterDisable = 0, kAdapterEnable = 1, kAdapterQuery = 2 };
constexpr uint8_t kAdapterReady = 4;

using AdapterBytes = std::array<uint8_t, AdapterRecord::kSize>;
// `deviceName` is UTF-8; longer names are cut to 255 code units.
AdapterBytes BuildAdapterRecord(const std::string& deviceName, uint32_t mode);
// The driver's name of an adapter: "\DEVICE\" + the adapter name.
std::string AdapterDeviceName(const std::string& adapterName);

// ---- Start (44 bytes in, nothing out) and stop (44 in, 44 out, ignored)
struct StartParams {
    uint32_t width, height, cameraAddress;  // address in network order
    uint16_t streamPort, controlPort;
    uint32_t pixelFormat, destination, payloadSize;  // destination in network order
    uint16_t packetDataSize;
    uint8_t resendEnabled, resendLimit;
    uint32_t imageTimeoutMs;
    uint8_t extraPacket;
};

namespace StartRecord {
constexpr size_t kWidth = 0;            // u32
constexpr size_t kHeight = 4;           // u32
constexpr size_t kCameraAddress = 8;    // u32, network order
constexpr size_t kStreamPort = 12;      // u16, host stream port
constexpr size_t kControlPort = 14;     // u16, host control port
constexpr size_t kPixelFormat = 16;     // u32
constexpr size_t kDestination = 20;     // u32, network order
constexpr size_t kPayloadSize = 24;     // u32
constexpr size_t kPacketDataSize = 28;  // u16
constexpr size_t kResendEnabled = 30;   // u8
constexpr size_t kResendLimit = 31;     // u8, per block
constexpr size_t kDeviceHandle = 32;    // u8, also the stop record's only field
constexpr size_t kImageTimeout = 36;    // u32, ms
constexpr size_t kExtraPacket = 40;     // u8
constexpr size_t kSize = 44;
}  // namespace StartRecord

using StartBytes = std::array<uint8_t, StartRecord::kSize>;
StartBytes BuildStartRecord(const StartParams& params, uint8_t deviceHandle);
StartBytes BuildStopRecord(uint8_t deviceHandle);

// ---- Packet resend switch and out-of-order tolerance (2 bytes in)
namespace SwitchRecord {
constexpr size_t kDeviceHandle = 0;
constexpr size_t kValue = 1;  // resend 0/1, or the tolerance
constexpr size_t kSize = 2;
}  // namespace SwitchRecord

using SwitchBytes = std::array<uint8_t, SwitchRecord::kSize>;
SwitchBytes BuildSwitchRecord(uint8_t deviceHandle, uint8_t value);

// ---- Buffer count (4 bytes in)
namespace BufferCountRecord {
constexpr size_t kDeviceHandle = 0;  // u8
constexpr size_t kReserved = 1;      // u8
constexpr size_t kCount = 2;         // u16
constexpr size_t kSize = 4;
}  // namespace BufferCountRecord

using BufferCountBytes = std::array<uint8_t, BufferCountRecord::kSize>;
BufferCountBytes BuildBufferCountRecord(uint8_t deviceHandle, uint16_t count);

// ---- Driver version (1 byte in, 2 out)
namespace VersionRecord {
constexpr size_t kRequestSize = 1;
constexpr size_t kMajor = 0;        // u8
constexpr size_t kMinorPacked = 1;  // u8: minor in the high 4 bits, sub-minor in the low 4
constexpr size_t kAnswerSize = 2;
}  // namespace VersionRecord

// ---- Last image information (72 bytes in and out)
namespace ImageRecord {
constexpr size_t kDeviceHandle = 0;  // u8, in
constexpr size_t kImageInfo = 8;     // GevImageInfo, 56 bytes
constexpr size_t kRequested = 64;    // u8, packets requested again
constexpr size_t kReceived = 65;     // u8, packets received after a request
constexpr size_t kSize = 72;
}  // namespace ImageRecord

// GevImageInfo as the driver lays it out.
namespace ImageInfoLayout {
constexpr size_t kBlockId = 0;           // u64
constexpr size_t kTimestamp = 8;         // u64
constexpr size_t kPixelFormat = 16;      // u32
constexpr size_t kSizeX = 20;            // u32
constexpr size_t kSizeY = 24;            // u32
constexpr size_t kOffsetX = 28;          // u32
constexpr size_t kOffsetY = 32;          // u32
constexpr size_t kPaddingX = 36;         // u16
constexpr size_t kPaddingY = 38;         // u16
constexpr size_t kMissingPackets = 40;   // u32
constexpr size_t kPayloadType = 44;      // u16
constexpr size_t kReserved = 46;         // u16
constexpr size_t kChunkDataLength = 48;  // u32
constexpr size_t kChunkLayoutId = 52;    // u32
constexpr size_t kSize = 56;
}  // namespace ImageInfoLayout

struct ImageRecordData {
    GevImageInfo info;
    uint8_t requested;
    uint8_t received;
};

using ImageBytes = std::array<uint8_t, ImageRecord::kSize>;
ImageBytes BuildImageRequest(uint8_t deviceHandle);
GevImageInfo ParseImageInfo(const uint8_t* bytes);  // 56 bytes
ImageRecordData ParseImageRecord(const ImageBytes& bytes);

// ---- Statistics (40 bytes in and out)
struct Statistics {
    uint32_t frames, missingFrames, lostPackets, windowFrames;
    uint64_t windowMs;
    bool haveDiscarded;  // older drivers answer 32 bytes only
    uint32_t discardedBlocks;
};

namespace StatisticsRecord {
constexpr size_t kDeviceHandle = 0;   // u8, in
constexpr size_t kFrames = 4;         // u32
constexpr size_t kMissingFrames = 8;  // u32
constexpr size_t kLostPackets = 12;   // u32
constexpr size_t kWindowFrames = 16;  // u32, frames of the rate window
constexpr size_t kWindowMs = 24;      // u64, length of that window
constexpr size_t kDiscarded = 32;     // u32, blocks the camera discarded
constexpr size_t kSize = 40;
}  // namespace StatisticsRecord

using StatisticsBytes = std::array<uint8_t, StatisticsRecord::kSize>;
StatisticsBytes BuildStatisticsRequest(uint8_t deviceHandle);
// `returned` is how many bytes the driver wrote; the discarded count is
// taken only when all 40 came back.
Statistics ParseStatistics(const StatisticsBytes& bytes, size_t returned);

// ---- User buffers: announce, release, queue a ring slot (24 bytes in)
namespace UserBufferRecord {
constexpr size_t kDeviceHandle = 0;  // u8
constexpr size_t kAddress = 8;       // u64, announce
constexpr size_t kSlot = 16;         // u64, queue
constexpr size_t kSize = 24;
}  // namespace UserBufferRecord

using UserBufferBytes = std::array<uint8_t, UserBufferRecord::kSize>;
UserBufferBytes BuildAnnounceRecord(uint8_t deviceHandle, uint64_t address);
UserBufferBytes BuildReleaseRecord(uint8_t deviceHandle);
UserBufferBytes BuildQueueRecord(uint8_t deviceHandle, uint64_t slot);

// ---- Reads: the first byte of the buffer names the 0-based device index
namespace ReadRequest {
constexpr size_t kDeviceIndex = 0;   // u8, overwritten by the answer
constexpr size_t kSlotReadSize = 2;  // the answer: the ring slot number, u16
}  // namespace ReadRequest

uint16_t ParseSlotNumber(const uint8_t* bytes);

}  // namespace Vantor::FilterDriver
