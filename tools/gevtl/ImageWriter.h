// Saving grabbed frames: Mono8 as 8-bit grey, Mono10/12/16 (16 bits a pixel,
// little-endian) as 16-bit grey, in PNG (libpng) or binary PGM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Gevtl {

struct Image {
    const uint8_t* pixels = nullptr;
    size_t width = 0;
    size_t height = 0;
    size_t linePadding = 0;    // bytes after each line
    uint64_t pixelFormat = 0;  // PFNC
};

// Bits a pixel occupies in memory (8 or 16) for the formats saved as grey images, 0 for others.
unsigned StoredBits(uint64_t pixelFormat);

// Writes `image` to `path` (".png" or ".pgm" appended by the caller's choice of `pgm`).
// Throws std::runtime_error for an unsupported format or a failed write.
void WriteImage(const std::string& path, const Image& image, bool pgm);

}  // namespace Gevtl
