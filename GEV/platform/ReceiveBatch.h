// Reads the datagrams queued on a UDP socket in batches: many per system call
// where the system offers it, else one. Owns the buffers they are read into;
// a batch's datagrams stay valid until the next Receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Socket.h"

namespace Platform {

struct Datagram {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint32_t address = 0;  // the sender, network order
    uint16_t port = 0;     // the sender's, host order
};

class ReceiveBatch {
public:
    // Reads from `socket` (not owned) datagrams of up to `datagramCapacity`
    // bytes (longer ones arrive cut), at most `batchSize` per call.
    ReceiveBatch(SocketHandle socket, size_t datagramCapacity, size_t batchSize);
    ~ReceiveBatch();
    ReceiveBatch(const ReceiveBatch&) = delete;
    ReceiveBatch& operator=(const ReceiveBatch&) = delete;

    // Asks the system to hand over runs of same-size datagrams from one sender
    // in one buffer (receive offload), split again here; false where it cannot.
    bool EnableCoalescing();

    // Takes what is queued; when nothing is, waits up to `milliseconds` for it.
    // Returns the datagrams read, 0 when the wait timed out, -1 on failure.
    int Receive(uint32_t milliseconds);
    size_t Count() const;
    const Datagram& operator[](size_t index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace Platform
