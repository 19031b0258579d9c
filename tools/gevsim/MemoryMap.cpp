#include "MemoryMap.h"

#include <algorithm>

#include "GvcpWire.h"

namespace GevSim {

void MemoryMap::Map(uint32_t address, uint32_t size, Access access) {
    Range range{address, access, std::vector<uint8_t>(size, 0)};
    auto at = std::upper_bound(ranges_.begin(), ranges_.end(), address,
                               [](uint32_t a, const Range& r) { return a < r.address; });
    ranges_.insert(at, std::move(range));
}

const MemoryMap::Range* MemoryMap::Find(uint32_t address) const {
    auto at = std::upper_bound(ranges_.begin(), ranges_.end(), address,
                               [](uint32_t a, const Range& r) { return a < r.address; });
    if (at == ranges_.begin()) return nullptr;
    --at;
    return address < at->End() ? &*at : nullptr;
}

MemoryMap::Range* MemoryMap::FindMutable(uint32_t address) {
    return const_cast<Range*>(static_cast<const MemoryMap*>(this)->Find(address));
}

uint16_t MemoryMap::Read(uint32_t address, uint8_t* out, size_t size) const {
    // 64-bit arithmetic so that a read running past 0xFFFFFFFF is refused, not wrapped.
    uint64_t at = address;
    const uint64_t end = at + size;
    while (at < end) {
        if (at > UINT32_MAX) return Gvcp::kStatusInvalidAddress;
        const Range* range = Find(static_cast<uint32_t>(at));
        if (range == nullptr) return Gvcp::kStatusInvalidAddress;
        if (range->access == Access::WriteOnly) return Gvcp::kStatusAccessDenied;
        const uint64_t chunk = std::min<uint64_t>(end, range->End()) - at;
        std::copy_n(range->bytes.begin() + (at - range->address), chunk, out);
        out += chunk;
        at += chunk;
    }
    return Gvcp::kStatusSuccess;
}

void MemoryMap::Peek(uint32_t address, uint8_t* out, size_t size) const {
    for (size_t i = 0; i < size; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        const Range* range = Find(at);
        out[i] = range ? range->bytes[at - range->address] : 0;
    }
}

void MemoryMap::Poke(uint32_t address, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (Range* range = FindMutable(at)) range->bytes[at - range->address] = data[i];
    }
}

uint32_t MemoryMap::Peek32(uint32_t address) const {
    uint8_t bytes[4];
    Peek(address, bytes, sizeof bytes);
    return Gvcp::Get32(bytes);
}

void MemoryMap::Poke32(uint32_t address, uint32_t value) {
    uint8_t bytes[4];
    Gvcp::Put32(bytes, value);
    Poke(address, bytes, sizeof bytes);
}

}  // namespace GevSim
