#include "Inflate.h"

#include <array>

namespace GenTL {
namespace {

constexpr int kMaxBits = 15;
constexpr int kLiteralCodes = 288;
constexpr int kDistanceCodes = 32;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A canonical Huffman code: how many codes of each length, and the symbols in code order.
struct Huffman {
    std::array<uint16_t, kMaxBits + 1> count{};
    std::array<uint16_t, kLiteralCodes> symbol{};
};

// False when the lengths over-subscribe the code space (an incomplete code
// is allowed: a symbol it lacks is found broken when it is met).
bool Build(Huffman* h, const uint8_t* lengths, int n) {
    h->count.fill(0);
    for (int s = 0; s < n; ++s) ++h->count[lengths[s]];
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = (left << 1) - h->count[len];
        if (left < 0) return false;
    }
    std::array<uint16_t, kMaxBits + 1> offset{};
    for (int len = 1; len < kMaxBits; ++len) offset[len + 1] = offset[len] + h->count[len];
    for (int s = 0; s < n; ++s)
        if (lengths[s] != 0) h->symbol[offset[lengths[s]]++] = static_cast<uint16_t>(s);
    return true;
}

class Inflater {
public:
    Inflater(const uint8_t* data, size_t size, size_t maxOutput)
        : m_data(data), m_size(size), m_max(maxOutput) {}

    std::optional<std::string> Run() {
        bool last = false;
        while (!last) {
            last = Bits(1) == 1;
            const uint32_t type = Bits(2);
            if (m_broken) return std::nullopt;
            const bool ok = type == 0   ? Stored()
                            : type == 1 ? Fixed()
                            : type == 2 ? Dynamic()
                                        : false;
            if (!ok || m_broken) return std::nullopt;
        }
        return std::move(m_out);
    }

private:
    uint32_t Bits(int need) {
        while (m_count < need) {
            if (m_at >= m_size) {
                m_broken = true;
                return 0;
            }
            m_bits |= static_cast<uint32_t>(m_data[m_at++]) << m_count;
            m_count += 8;
        }
        const uint32_t value = m_bits & ((1u << need) - 1);
        m_bits >>= need;
        m_count -= need;
        return value;
    }

    int Decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>(Bits(1));
            if (m_broken) return -1;
            const int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    bool Stored() {
        m_bits = 0;
        m_count = 0;  // to the byte boundary
        if (m_size - m_at < 4) return false;
        const uint32_t length = m_data[m_at] | m_data[m_at + 1] << 8;
        const uint32_t check = m_data[m_at + 2] | m_data[m_at + 3] << 8;
        m_at += 4;
        if ((length ^ 0xFFFF) != check || m_size - m_at < length) return false;
        if (m_out.size() + length > m_max) return false;
        m_out.append(reinterpret_cast<const char*>(m_data + m_at), length);
        m_at += length;
        return true;
    }

    bool Fixed() {
        uint8_t lengths[kLiteralCodes];
        int s = 0;
        for (; s < 144; ++s) lengths[s] = 8;
        for (; s < 256; ++s) lengths[s] = 9;
        for (; s < 280; ++s) lengths[s] = 7;
        for (; s < kLiteralCodes; ++s) lengths[s] = 8;
        Huffman literal, distance;
        Build(&literal, lengths, kLiteralCodes);
        for (s = 0; s < kDistanceCodes; ++s) lengths[s] = 5;
        Build(&distance, lengths, kDistanceCodes);
        return Codes(literal, distance);
    }

    bool Dynamic() {
        static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
        const int literals = static_cast<int>(Bits(5)) + 257;
        const int distances = static_cast<int>(Bits(5)) + 1;
        const int codeLengths = static_cast<int>(Bits(4)) + 4;
        if (m_broken || literals > 286 || distances > 30) return false;
        uint8_t lengths[kLiteralCodes + kDistanceCodes] = {};
        for (int i = 0; i < codeLengths; ++i) lengths[kOrder[i]] = static_cast<uint8_t>(Bits(3));
        Huffman lengthCode;
        if (m_broken || !Build(&lengthCode, lengths, 19)) return false;
        int at = 0;
        while (at < literals + distances) {
            const int symbol = Decode(lengthCode);
            if (symbol < 0) return false;
            if (symbol < 16) {
                lengths[at++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t value = 0;
            int repeat = 0;
            if (symbol == 16) {
                if (at == 0) return false;
                value = lengths[at - 1];
                repeat = 3 + static_cast<int>(Bits(2));
            } else if (symbol == 17) {
                repeat = 3 + static_cast<int>(Bits(3));
            } else {
                repeat = 11 + static_cast<int>(Bits(7));
            }
            if (m_broken || at + repeat > literals + distances) return false;
            while (repeat-- > 0) lengths[at++] = value;
        }
        if (lengths[256] == 0) return false;  // no end-of-block code
        Huffman literal, distance;
        if (!Build(&literal, lengths, literals) || !Build(&distance, lengths + literals, distances))
            return false;
        return Codes(literal, distance);
    }

    bool Codes(const Huffman& literal, const Huffman& distance) {
        for (;;) {
            const int symbol = Decode(literal);
            if (symbol < 0) return false;
            if (symbol < 256) {
                if (m_out.size() >= m_max) return false;
                m_out.push_back(static_cast<char>(symbol));
                continue;
            }
            if (symbol == 256) return true;
            const int lengthIndex = symbol - 257;
            if (lengthIndex >= 29) return false;
            const size_t length = kLengthBase[lengthIndex] + Bits(kLengthExtra[lengthIndex]);
            const int distanceIndex = Decode(distance);
            if (distanceIndex < 0 || distanceIndex >= 30) return false;
            const size_t back = kDistanceBase[distanceIndex] + Bits(kDistanceExtra[distanceIndex]);
            if (m_broken || back > m_out.size() || m_out.size() + length > m_max) return false;
            // Byte by byte: a reference may overlap what it produces.
            const size_t from = m_out.size() - back;
            for (size_t i = 0; i < length; ++i) m_out.push_back(m_out[from + i]);
        }
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_max;
    size_t m_at = 0;
    uint32_t m_bits = 0;
    int m_count = 0;
    bool m_broken = false;
    std::string m_out;
};

}  // namespace

std::optional<std::string> Inflate(const uint8_t* data, size_t size, size_t maxOutput) {
    if (data == nullptr && size != 0) return std::nullopt;
    return Inflater(data, size, maxOutput).Run();
}

}  // namespace GenTL
