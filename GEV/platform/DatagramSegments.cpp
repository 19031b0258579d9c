#include "DatagramSegments.h"

#include <algorithm>

namespace Platform {

size_t SplitSegments(size_t received, size_t capacity, size_t segmentSize, bool truncated,
                     std::vector<Segment>* segments) {
    const size_t total = std::min(received, capacity);
    if (segmentSize == 0 || segmentSize >= total) {
        segments->push_back(Segment{0, total});
        return 1;
    }
    size_t count = 0;
    for (size_t offset = 0; offset < total; offset += segmentSize) {
        const size_t size = std::min(segmentSize, total - offset);
        // A short tail of a cut buffer is a piece of a datagram, not a datagram.
        if (size < segmentSize && (truncated || received > capacity)) break;
        segments->push_back(Segment{offset, size});
        ++count;
    }
    return count;
}

}  // namespace Platform
