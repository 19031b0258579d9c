// Block assembly test fixture: GVSP datagrams built here and fed to a
// StreamReceiver over a small ring, with the resend requests recorded.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "StreamInternal.h"
#include "StreamReceiver.h"

namespace AssemblyTest {

using namespace Vantor;
using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A GVSP datagram: header in the chosen ID mode, then `body`.
inline Bytes Packet(uint8_t format, uint64_t block, uint32_t packet, const Bytes& body,
                    bool extended = false, uint16_t flags = 0, uint16_t status = 0) {
    Bytes b;
    Put(b, status, 2);
    if (extended) {
        Put(b, flags, 2);
        b.push_back(static_cast<uint8_t>(0x80 | format));
        Put(b, 0, 3);
        Put(b, block, 8);
        Put(b, packet, 4);
    } else {
        Put(b, block, 2);
        Put(b, (uint32_t{format} << 24) | packet, 4);
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes ImageLeader(uint32_t width, uint32_t height, uint64_t timestamp = 1,
                         uint32_t pixelFormat = 0x01080001 /* Mono8 */, uint16_t paddingX = 0) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, 0x0001, 2);
    Put(body, timestamp, 8);
    Put(body, pixelFormat, 4);
    Put(body, width, 4);
    Put(body, height, 4);
    Put(body, 0, 8);
    Put(body, paddingX, 2);
    Put(body, 0, 2);
    return body;
}

inline Bytes ImageTrailer(uint32_t height) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, 0x0001, 2);
    Put(body, height, 4);
    return body;
}

// Leader of a payload type without image geometry: type, time stamp and a 64-bit
// data size (raw data and GenDC carry one; chunk data none).
inline Bytes DataLeader(uint16_t payloadType, uint64_t dataSize, uint64_t timestamp = 1) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, payloadType, 2);
    Put(body, timestamp, 8);
    Put(body, dataSize, 8);
    return body;
}

// Trailer of any payload type: type, then a 32-bit word (size Y for images, the
// chunk payload length for chunk data), then the chunk payload length and layout
// ID of an image with chunks.
inline Bytes TypedTrailer(uint16_t payloadType, uint32_t word = 0, uint32_t chunkLength = 0,
                          uint32_t chunkLayout = 0) {
    Bytes body;
    Put(body, 0, 2);
    Put(body, payloadType, 2);
    Put(body, word, 4);
    Put(body, chunkLength, 4);
    Put(body, chunkLayout, 4);
    return body;
}

class Assembly : public ::testing::Test {
protected:
    // A 64 x 4 Mono8 image in packets of 64 bytes: 4 packets per block.
    void SetUp() override { Configure(4, 64, 4); }

    void Configure(uint32_t height, uint32_t packetData, uint16_t buffers, bool resend = true,
                   uint8_t resendCount = 10) {
        state.settings = StreamSettings{};
        state.settings.payloadSize = 64 * height;
        state.settings.packetDataSize = packetData;
        state.settings.packetsPerBlock = (state.settings.payloadSize + packetData - 1) / packetData;
        state.settings.resendEnabled = resend;
        state.settings.resendCount = resendCount;
        state.bufferCount = buffers;
        state.assembly = AssemblyState{};
        ASSERT_TRUE(BuildRing(state));
        height_ = height;
    }
    Bytes Payload(uint64_t block, uint32_t packet) {
        return Bytes(state.settings.packetDataSize, static_cast<uint8_t>(block * 16 + packet));
    }
    void Feed(const Bytes& datagram) { receiver.HandlePacket(datagram.data(), datagram.size()); }
    void SendBlock(uint64_t block, std::vector<uint32_t> skip = {}, bool trailer = true) {
        Feed(Packet(1, block, 0, ImageLeader(64, height_)));
        for (uint32_t p = 1; p <= state.settings.packetsPerBlock; ++p)
            if (std::find(skip.begin(), skip.end(), p) == skip.end())
                Feed(Packet(3, block, p, Payload(block, p)));
        if (trailer)
            Feed(Packet(2, block, state.settings.packetsPerBlock + 1, ImageTrailer(height_)));
    }
    GevBufferDescriptor* Delivered() { return state.delivered.TakeHead(); }

    StreamState state;
    uint32_t height_ = 4;
    std::vector<std::tuple<uint64_t, uint32_t, uint32_t, bool>> resends;
    // The receiver's clock in milliseconds, moved by the tests alone; it starts
    // near the wrap so that time arithmetic across it is exercised too.
    uint32_t now = 0xFFFFFF00u;
    StreamReceiver receiver{0, state,
                            [this](uint64_t block, uint32_t first, uint32_t last, bool ext) {
                                resends.emplace_back(block, first, last, ext);
                                return true;
                            },
                            [this] { return now; }};
};

// Block IDs in delivery order, each slot given back.
inline std::vector<uint64_t> DrainIds(StreamState& state) {
    std::vector<uint64_t> ids;
    while (GevBufferDescriptor* block = state.delivered.TakeHead()) {
        ids.push_back(block->blockId);
        state.queued.Append(block);
    }
    return ids;
}

}  // namespace AssemblyTest
