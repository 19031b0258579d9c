// GenDC blocks (0x000B): a GenDC container made of its descriptor and the image of the
// test pattern. The descriptor is the smallest that describes one image: a container
// header, one intensity component, one 2D part, all data in flow 0 right after the
// descriptor. GenDC fields are little-endian, unlike GVSP. Pure functions, any thread.
//
// Descriptor layout (offsets from the container start; sizes in bytes):
//   container header @0, 64: signature "GNDC" @0, version major.minor.subminor u8
//     @4..6, header type u16 @8 (0x1000), flags u16 @10, header size u32 @12, id u64
//     @16 (the block id), variable fields u8 @24, data size u64 @32, data offset u64
//     @40 (from the container start), descriptor size u32 @48, component count u32
//     @52, component offsets u64 @56.
//   component header @64, 56: header type u16 @0 (0x2000), flags u16 @2, header size
//     u32 @4, group id u16 @10, source id u16 @12, region id u16 @14, region offset x
//     u32 @16, y u32 @20, timestamp u64 @24, type id u64 @32 (1: intensity), format
//     u32 @40 (pixel format), part count u16 @46, part offsets u64 @48.
//   part header @120, 56: header type u16 @0 (0x4200: 2D), flags u16 @2, header size
//     u32 @4, format u32 @8, flow id u16 @14, flow offset u64 @16, data size u64 @24,
//     data offset u64 @32 (from the start of the container's data), size x u32 @40,
//     size y u32 @44, padding x u16 @48, padding y u16 @50.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "StreamPayload.h"

namespace GevSim {

class GenDCContainer {
public:
    static constexpr size_t kContainerHeaderSize = 64;
    static constexpr size_t kComponentHeaderSize = 56;
    static constexpr size_t kPartHeaderSize = 56;
    static constexpr size_t kDescriptorSize =
        kContainerHeaderSize + kComponentHeaderSize + kPartHeaderSize;

    // Descriptor and image: what PayloadSize announces, and every block's payload.
    static uint64_t Size(const StreamFormat& format);
    static std::vector<uint8_t> Descriptor(const StreamFormat& format, uint64_t blockId,
                                           uint64_t timestamp);
    static BlockContent Build(const StreamFormat& format, uint64_t blockId, uint64_t timestamp,
                              std::vector<uint8_t> buffer = {});
};

}  // namespace GevSim
