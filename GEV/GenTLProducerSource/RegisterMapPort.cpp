#include "RegisterMapPort.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "StringFormat.h"

namespace GenTL {
namespace {

// Bounds the bounce buffer whatever size the consumer claims.
constexpr size_t kChunkBytes = 4096;

template <class Transfer>
void ChunkedTransfer(uint64_t address, size_t size, Transfer transfer) {
    size_t done = 0;
    do {
        const size_t chunk = std::min(size - done, kChunkBytes);
        transfer(address + done, done, chunk);
        done += chunk;
    } while (done < size);
}

// Lets the map reject a block before any word moves (misaligned address or
// size, zero size, null buffer): it validates before it transfers.
bool BlockIsValid(uint64_t address, const void* pBuffer, size_t size) {
    return pBuffer != nullptr && size != 0 && address % 4 == 0 && size % 4 == 0;
}

}  // namespace

void ReadMapBlock(CRegisterMap& map, uint64_t address, void* pBuffer, size_t size) {
    if (!BlockIsValid(address, pBuffer, size)) {
        uint32_t probe = 0;
        map.ReadBlock(address, pBuffer != nullptr ? &probe : nullptr, size);
        return;
    }
    auto* bytes = static_cast<unsigned char*>(pBuffer);
    std::vector<uint32_t> words(std::min(size, kChunkBytes) / 4);
    ChunkedTransfer(address, size, [&](uint64_t at, size_t offset, size_t chunk) {
        // Seeded with the consumer's bytes so a failure copies back only what moved.
        std::memcpy(words.data(), bytes + offset, chunk);
        try {
            map.ReadBlock(at, words.data(), chunk);
        } catch (...) {
            std::memcpy(bytes + offset, words.data(), chunk);
            throw;
        }
        std::memcpy(bytes + offset, words.data(), chunk);
    });
}

void WriteMapBlock(CRegisterMap& map, uint64_t address, const void* pBuffer, size_t size) {
    if (!BlockIsValid(address, pBuffer, size)) {
        const uint32_t probe = 0;
        map.WriteBlock(address, pBuffer != nullptr ? &probe : nullptr, size);
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(pBuffer);
    std::vector<uint32_t> words(std::min(size, kChunkBytes) / 4);
    ChunkedTransfer(address, size, [&](uint64_t at, size_t offset, size_t chunk) {
        std::memcpy(words.data(), bytes + offset, chunk);
        map.WriteBlock(at, words.data(), chunk);
    });
}

std::string FormatLocalURL(const char* format, uint64_t xmlAddress, uint32_t xmlSize) {
    return Platform::Format(format, xmlAddress, xmlSize);
}

}  // namespace GenTL
