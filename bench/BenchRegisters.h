// Addresses the GenTL benchmarks use: the simulator's registers (gevsim.xml),
// the bootstrap packet size register and the data stream module's (KRDS.xml).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Bench {

constexpr const char* kCameraAddress = "127.0.0.2";
constexpr uint64_t kPayloadSizeRegister = 0x00010018;
constexpr uint64_t kAcquisitionStartRegister = 0x00010020;
constexpr uint64_t kAcquisitionStopRegister = 0x00010024;
constexpr uint64_t kStreamPacketSizeRegister = 0x0D04;
constexpr uint64_t kStreamPacketResend = 0x10;
constexpr uint64_t kStreamPacketResendCount = 0x14;
constexpr uint64_t kStreamRingBufferCount = 0x28;
constexpr uint64_t kStreamUseUserBuffer = 0x224;
constexpr size_t kAnnouncedBuffers = 8;
// Ring slots of the library in copy delivery, as stream_bench gives its receiver.
constexpr uint32_t kCopyRingSlots = 16;
constexpr uint32_t kWidth = 2048, kHeight = 1536;

}  // namespace Bench
