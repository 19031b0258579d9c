#include "ZipArchive.h"

#include "Inflate.h"

namespace GenTL {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::optional<std::string> UnzipFirstFile(const std::string& archive, size_t maxOutput) {
    const auto* base = reinterpret_cast<const uint8_t*>(archive.data());
    if (archive.size() < kLocalHeaderSize || Le32(base) != kLocalHeaderSignature)
        return std::nullopt;
    const uint16_t flags = Le16(base + 6);
    const uint16_t method = Le16(base + 8);
    const uint32_t crc = Le32(base + 14);
    const uint32_t packedSize = Le32(base + 18);
    const uint32_t size = Le32(base + 22);
    const size_t dataAt = kLocalHeaderSize + Le16(base + 26) + Le16(base + 28);
    if ((flags & kFlagEncrypted) || dataAt > archive.size() || packedSize == 0xFFFFFFFF ||
        size == 0xFFFFFFFF)
        return std::nullopt;
    // With a data descriptor the sizes and CRC follow the data: a deflated
    // entry ends by itself, a stored one cannot be delimited.
    const bool sizesKnown = !(flags & kFlagDataDescriptor);
    const size_t available = archive.size() - dataAt;
    if (sizesKnown && (packedSize > available || size > maxOutput)) return std::nullopt;
    std::optional<std::string> file;
    if (method == kStored && sizesKnown) {
        if (packedSize != size) return std::nullopt;
        file = archive.substr(dataAt, size);
    } else if (method == kDeflated) {
        file = Inflate(base + dataAt, sizesKnown ? packedSize : available,
                       sizesKnown ? size : maxOutput);
    }
    if (!file) return std::nullopt;
    if (sizesKnown && (file->size() != size ||
                       Crc32(reinterpret_cast<const uint8_t*>(file->data()), file->size()) != crc))
        return std::nullopt;
    return file;
}

}  // namespace GenTL
