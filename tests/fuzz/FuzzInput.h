// Reads a fuzz input field by field; past its end every field reads as 0, so
// a target never has to check what is left.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() { return m_size > 0 ? (--m_size, *m_data++) : 0; }
    // Two reads in one expression would come in no defined order.
    uint16_t U16() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    uint32_t U32() {
        const uint32_t high = U16();
        return high << 16 | U16();
    }
    // Up to `wanted` bytes as they stand; `taken` tells how many there were.
    const uint8_t* Take(size_t wanted, size_t* taken) {
        *taken = wanted < m_size ? wanted : m_size;
        const uint8_t* at = m_data;
        m_data += *taken;
        m_size -= *taken;
        return at;
    }
    size_t Left() const { return m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
};
