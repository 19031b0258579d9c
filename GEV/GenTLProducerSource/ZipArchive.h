// ZipArchive: the first file of a zip archive, as a camera packs its GenApi
// description: one entry, stored or deflated, found by its local header. The
// archive comes from the camera: sizes are checked against the data, the CRC
// against the unpacked bytes; encrypted, ZIP64 or otherwise unusual entries
// give nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace GenTL {

std::optional<std::string> UnzipFirstFile(const std::string& archive, size_t maxOutput);

// The CRC-32 of zip (polynomial 0xEDB88320).
uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace GenTL
