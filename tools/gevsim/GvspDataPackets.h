// How one block's payload is cut into data packets: which bytes each packet carries
// and the header its packet format puts before them, after the GVSP header. Generic
// packets carry the payload in order with no header of their own; multi-part packets
// the parts one after the other, each packet inside one part, behind an 8-byte part
// header; GenDC packets the descriptor, then the data, behind a 16-byte header. A
// packet never holds more than `bytesPerPacket` bytes, its own header included, so
// multi-part and GenDC blocks need more packets than their payload alone would. Pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "StreamPayload.h"

namespace GevSim {

struct DataPacket {
    uint64_t offset = 0;  // of the first byte in the block's payload
    uint32_t size = 0;    // payload bytes
    uint8_t format = 3;   // Gvsp::Format
    std::array<uint8_t, 16> header{};
    uint8_t headerSize = 0;
};

// `bytesPerPacket`: bytes after the GVSP header, more than the format's own header.
std::vector<DataPacket> CutDataPackets(const BlockContent& content, uint32_t bytesPerPacket);

}  // namespace GevSim
