// A bare GVSP receiver for the simulator tests: a plain UDP socket and a parser of the
// packet layouts written here from the GigE Vision rules, independent of the
// simulator's code. One test thread uses one receiver.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "GvcpTestClient.h"

namespace SimTest {

// One parsed GVSP datagram. Header forms:
//   16-bit ids: status u16 @0, block id u16 @2, EI|format u8 @4, packet id u24 @5.
//   64-bit ids: status u16 @0, flags u16 @2, EI|format u8 @4, block id u64 @8, packet id u32 @16.
struct GvspPacket {
    Bytes bytes;
    uint16_t fromPort = 0;
    uint16_t status = 0;
    uint16_t flags = 0;  // extended form only
    bool extended = false;
    uint8_t format = 0;
    uint64_t blockId = 0;
    uint32_t packetId = 0;
    size_t headerSize = 0;

    const uint8_t* Body() const { return bytes.data() + headerSize; }
    size_t BodySize() const { return bytes.size() - headerSize; }
};

std::optional<GvspPacket> ParseGvsp(const Bytes& bytes, uint16_t fromPort = 0);

// The packets of one block id, as they arrived.
struct ReceivedBlock {
    std::vector<GvspPacket> leaders, trailers;
    std::map<uint32_t, std::vector<GvspPacket>> data;  // packet id -> copies
    Bytes Payload() const;  // data packets in packet id order, first copy of each
};

class GvspTestReceiver {
public:
    explicit GvspTestReceiver(const std::string& bindAddress = "127.0.0.1");
    ~GvspTestReceiver();
    GvspTestReceiver(const GvspTestReceiver&) = delete;
    GvspTestReceiver& operator=(const GvspTestReceiver&) = delete;

    uint16_t Port() const;
    std::optional<GvspPacket> Receive(int timeoutMs);
    // Receives until `trailers` trailers came, or nothing came for `quietMs`, or
    // `maxMs` passed; returns everything in arrival order.
    std::vector<GvspPacket> Collect(size_t trailers, int quietMs = 300, int maxMs = 3000);

private:
    int fd_ = -1;
};

std::map<uint64_t, ReceivedBlock> ByBlock(const std::vector<GvspPacket>& packets);

}  // namespace SimTest
