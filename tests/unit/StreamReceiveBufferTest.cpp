// The stream socket's receive buffer asked for at acquisition start.
#include <gtest/gtest.h>

#include "StreamInternal.h"
#include "UdpUtility.h"

using namespace Vantor;

namespace {

TEST(StreamReceiveBuffer, HoldsSeveralWholeFrames) {
    const uint32_t payload = 2048 * 1536;
    EXPECT_EQ(StreamReceiveBufferSize(payload), size_t{payload} * kBufferedFrames);
}

TEST(StreamReceiveBuffer, SmallFramesKeepTheOpenSize) {
    EXPECT_EQ(StreamReceiveBufferSize(0), kLargeReceiveBuffer);
    EXPECT_EQ(StreamReceiveBufferSize(320 * 240), kLargeReceiveBuffer);
}

TEST(StreamReceiveBuffer, LargeFramesAreBounded) {
    EXPECT_EQ(StreamReceiveBufferSize(40u << 20), kMaxStreamReceiveBuffer);
    EXPECT_EQ(StreamReceiveBufferSize(0xFFFFFFFFu), kMaxStreamReceiveBuffer);
}

}  // namespace
