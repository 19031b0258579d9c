// The payload types a GVSP leader and trailer carry (16 bits): the one set of
// names the receiver's codec and the producer use.
#pragma once

#include <cstdint>

namespace Vantor {
namespace Gvsp {

enum PayloadType : uint16_t {
    kImage = 0x0001,
    kRawData = 0x0002,
    kFile = 0x0003,
    kChunk = 0x0004,
    kExtendedChunk = 0x0005,
    kJpeg = 0x0006,
    kJpeg2000 = 0x0007,
    kH264 = 0x0008,
    kMultiZoneImage = 0x0009,
    kMultiPart = 0x000A,
    kGenDC = 0x000B,
    kImageWithChunk = 0x4001,
    kJpegWithChunk = 0x4006,
    kJpeg2000WithChunk = 0x4007,
    kMultiPartWithChunk = 0x400A,
};

// Set on a base type: the same payload followed by chunk data.
constexpr uint16_t kPayloadChunkBit = 0x4000;
// Set: a type of the camera's own.
constexpr uint16_t kPayloadDeviceSpecificBit = 0x8000;

}  // namespace Gvsp
}  // namespace Vantor
