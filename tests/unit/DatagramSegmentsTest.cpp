// The cut of a coalesced receive buffer back into its datagrams.
#include <gtest/gtest.h>

#include <vector>

#include "DatagramSegments.h"

using Platform::Segment;
using Platform::SplitSegments;

namespace {

std::vector<Segment> Split(size_t received, size_t capacity, size_t segmentSize,
                           bool truncated = false) {
    std::vector<Segment> segments;
    const size_t count = SplitSegments(received, capacity, segmentSize, truncated, &segments);
    EXPECT_EQ(count, segments.size());
    return segments;
}

void ExpectSegments(const std::vector<Segment>& got, const std::vector<Segment>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].offset, want[i].offset) << "segment " << i;
        EXPECT_EQ(got[i].size, want[i].size) << "segment " << i;
    }
}

TEST(DatagramSegments, EvenRunIsCutIntoEqualDatagrams) {
    ExpectSegments(Split(3 * 1472, 65535, 1472), {{0, 1472}, {1472, 1472}, {2944, 1472}});
}

TEST(DatagramSegments, TrailingShortDatagramIsKept) {
    ExpectSegments(Split(2 * 1000 + 300, 65535, 1000), {{0, 1000}, {1000, 1000}, {2000, 300}});
}

TEST(DatagramSegments, ZeroSegmentSizeIsOneDatagram) {
    ExpectSegments(Split(8964, 65535, 0), {{0, 8964}});
}

TEST(DatagramSegments, SegmentSizeBeyondTheBytesIsOneDatagram) {
    ExpectSegments(Split(500, 65535, 1472), {{0, 500}});
    ExpectSegments(Split(1472, 65535, 1472), {{0, 1472}});
}

TEST(DatagramSegments, EmptyDatagramStaysOne) {
    ExpectSegments(Split(0, 65535, 1472), {{0, 0}});
}

TEST(DatagramSegments, TruncatedBufferDropsThePartialTail) {
    // 4 datagrams of 1000 bytes in a buffer of 3500: the fourth is cut.
    ExpectSegments(Split(3500, 3500, 1000, true), {{0, 1000}, {1000, 1000}, {2000, 1000}});
    // The system may report the full length; only the bytes held count.
    ExpectSegments(Split(4000, 3500, 1000, true), {{0, 1000}, {1000, 1000}, {2000, 1000}});
    ExpectSegments(Split(4000, 3500, 1000, false), {{0, 1000}, {1000, 1000}, {2000, 1000}});
}

TEST(DatagramSegments, TruncatedSingleDatagramArrivesCut) {
    ExpectSegments(Split(9000, 2048, 0, true), {{0, 2048}});
    ExpectSegments(Split(9000, 2048, 9000, true), {{0, 2048}});
}

TEST(DatagramSegments, TruncatedOnASegmentBoundaryKeepsAll) {
    ExpectSegments(Split(3000, 3000, 1000, true), {{0, 1000}, {1000, 1000}, {2000, 1000}});
}

TEST(DatagramSegments, AppendsAfterWhatIsThere) {
    std::vector<Segment> segments{{7, 7}};
    EXPECT_EQ(SplitSegments(20, 100, 10, false, &segments), 2u);
    ExpectSegments(segments, {{7, 7}, {0, 10}, {10, 10}});
}

}  // namespace
