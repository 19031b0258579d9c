// Cuts a receive buffer that holds several datagrams of one size back to back
// (as UDP receive offload hands them over) into those datagrams.
#pragma once

#include <cstddef>
#include <vector>

namespace Platform {

struct Segment {
    size_t offset = 0;
    size_t size = 0;
};

// `received` bytes arrived in a buffer of `capacity` bytes, in datagrams of
// `segmentSize` bytes each, the last one possibly shorter. A segment size of 0
// means a single datagram. When the system cut the buffer (`truncated`), the
// partial datagram at its end is dropped, unless it is the only one: a single
// datagram arrives cut, as from a plain receive. Appends the datagrams to
// `segments` and returns how many it appended.
size_t SplitSegments(size_t received, size_t capacity, size_t segmentSize, bool truncated,
                     std::vector<Segment>* segments);

}  // namespace Platform
