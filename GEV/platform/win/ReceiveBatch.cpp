// Windows: one datagram per call, after a wait for readability.
#include "ReceiveBatch.h"

#include <vector>

namespace Platform {

struct ReceiveBatch::Impl {
    SocketHandle socket;
    std::vector<uint8_t> storage;
    Datagram datagram;
    size_t count = 0;
};

ReceiveBatch::ReceiveBatch(SocketHandle socket, size_t datagramCapacity, size_t /*batchSize*/)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->socket = socket;
    m_impl->storage.assign(datagramCapacity, 0);
}

ReceiveBatch::~ReceiveBatch() = default;

bool ReceiveBatch::EnableCoalescing() {
    return false;
}

int ReceiveBatch::Receive(uint32_t milliseconds) {
    m_impl->count = 0;
    const int ready = WaitReadableMs(m_impl->socket, milliseconds);
    if (ready <= 0) return ready;
    Datagram& datagram = m_impl->datagram;
    const int size = ReceiveFrom(m_impl->socket, m_impl->storage.data(), m_impl->storage.size(),
                                 &datagram.address, &datagram.port);
    if (size < 0) return -1;
    datagram.data = m_impl->storage.data();
    datagram.size = static_cast<size_t>(size);
    m_impl->count = 1;
    return 1;
}

size_t ReceiveBatch::Count() const {
    return m_impl->count;
}

const Datagram& ReceiveBatch::operator[](size_t index) const {
    (void)index;
    return m_impl->datagram;
}

}  // namespace Platform
