// The device's address space: mapped ranges of bytes, each read-only, read-write or
// write-only. Knows nothing of register meaning. Not thread-safe: the owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace GevSim {

enum class Access { ReadOnly, ReadWrite, WriteOnly };

class MemoryMap {
public:
    struct Range {
        uint32_t address = 0;
        Access access = Access::ReadOnly;
        std::vector<uint8_t> bytes;
        uint32_t End() const { return address + static_cast<uint32_t>(bytes.size()); }
    };

    // Maps `size` zeroed bytes at `address`; ranges must not overlap.
    void Map(uint32_t address, uint32_t size, Access access);
    void Clear() { ranges_.clear(); }

    // The range holding `address`, or nullptr.
    const Range* Find(uint32_t address) const;

    // Host-side read: every byte must be mapped and readable; returns a GVCP status.
    uint16_t Read(uint32_t address, uint8_t* out, size_t size) const;

    // Device-side access without checks: unmapped bytes read as zero, writes to
    // them are dropped.
    void Peek(uint32_t address, uint8_t* out, size_t size) const;
    void Poke(uint32_t address, const uint8_t* data, size_t size);
    uint32_t Peek32(uint32_t address) const;
    void Poke32(uint32_t address, uint32_t value);

private:
    Range* FindMutable(uint32_t address);

    std::vector<Range> ranges_;  // sorted by address
};

}  // namespace GevSim
