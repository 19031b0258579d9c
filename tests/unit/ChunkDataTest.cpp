// The chunk walk over chunk payloads as a camera sends them, sound and broken.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ChunkData.h"

using GenTL::ChunkWalk;
using GenTL::WalkChunks;

namespace {

using Bytes = std::vector<uint8_t>;

// Appends `length` data bytes and their tag (ID, length; both big-endian).
void AddChunk(Bytes& payload, uint32_t id, uint32_t length, uint8_t fill = 0xAB) {
    payload.insert(payload.end(), length, fill);
    for (uint32_t word : {id, length})
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.push_back(static_cast<uint8_t>(word >> shift));
}

}  // namespace

TEST(ChunkWalk, OneChunkOfSixteenBytes) {
    Bytes payload;
    AddChunk(payload, 0x1234, 16);
    ASSERT_EQ(payload.size(), 24u);
    ChunkWalk walk = WalkChunks(payload.data(), payload.size(), payload.size());
    ASSERT_TRUE(walk.Ok()) << walk.error;
    ASSERT_EQ(walk.chunks.size(), 1u);
    EXPECT_EQ(walk.chunks[0].ChunkID, 0x1234u);
    EXPECT_EQ(walk.chunks[0].ChunkOffset, 0);
    EXPECT_EQ(walk.chunks[0].ChunkLength, 16u);
}

TEST(ChunkWalk, ChunksComeFromTheEndTowardsTheStart) {
    Bytes payload;
    AddChunk(payload, 1, 100);
    AddChunk(payload, 2, 16);
    // The buffer is larger than the chunk payload: the rest is not walked.
    payload.resize(payload.size() + 40, 0xFF);
    ChunkWalk walk = WalkChunks(payload.data(), payload.size(), 132);
    ASSERT_TRUE(walk.Ok()) << walk.error;
    ASSERT_EQ(walk.chunks.size(), 2u);
    EXPECT_EQ(walk.chunks[0].ChunkID, 2u);
    EXPECT_EQ(walk.chunks[0].ChunkOffset, 108);
    EXPECT_EQ(walk.chunks[1].ChunkID, 1u);
    EXPECT_EQ(walk.chunks[1].ChunkOffset, 0);
    EXPECT_TRUE(WalkChunks(payload.data(), payload.size(), 0).chunks.empty());
}

TEST(ChunkWalk, BrokenLayoutsAreRefusedWithTheirReason) {
    Bytes zeroLength;
    AddChunk(zeroLength, 7, 0);
    EXPECT_EQ(WalkChunks(zeroLength.data(), 8, 8).error,
              "GetBufferChunkData: invalid chunk data layout discovered (Chunk length > valid "
              "payload size header or  Chunk length <= 0)");

    Bytes tooLong;
    AddChunk(tooLong, 7, 4);
    tooLong[tooLong.size() - 1] = 40;  // claims 40 data bytes in a 12-byte payload
    EXPECT_EQ(WalkChunks(tooLong.data(), tooLong.size(), tooLong.size()).error,
              "GetBufferChunkData: invalid chunk data layout discovered ( Remaining data < chunk "
              "header + chunk data)");

    Bytes stub(5, 0);
    AddChunk(stub, 3, 8);
    EXPECT_EQ(WalkChunks(stub.data(), stub.size(), stub.size()).error,
              "GetBufferChunkData: invalid chunk data layout discovered (Remaining data < chunk "
              "header)");

    // A trailer that claims more chunk data than the buffer holds is never followed.
    Bytes small;
    AddChunk(small, 1, 8);
    EXPECT_FALSE(WalkChunks(small.data(), small.size(), small.size() + 64).Ok());
}
