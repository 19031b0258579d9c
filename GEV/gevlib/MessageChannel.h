// The library's one message channel: a UDP socket and a thread that receive
// the event messages of every open camera, acknowledge them, log them, hand
// them to each device's handler and keep the cameras' source ports open.
//
// Threads: open and close run on caller threads and set the channel up and
// down under the lifecycle lock; the message thread owns the receive side.
// Handlers are set, cleared and called under the handler lock, so a closed
// device's handler is never called after its close has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "DeviceTable.h"

namespace Vantor {

class MessageChannel {
public:
    static MessageChannel& Instance();
    ~MessageChannel();

    // Opens the socket if there is none, bound to (any address, port); starts
    // the thread when the socket is new and no thread runs. False when the
    // socket cannot be opened. `opened` tells whether this call opened it.
    bool EnsureOpen(uint16_t port, bool* opened);
    // The bound port (0 when there is no socket); stores it as the library's.
    uint16_t Port();
    bool ReadBoundPort();
    // Sends from the message socket; returns bytes sent or -1.
    int Send(uint32_t address, uint16_t port, const void* data, size_t size);
    // Stops the thread and closes the socket (close of the last device).
    void Shutdown();

    void SetHandler(DeviceRecord& record, GevMessageHandler handler);

    // One received datagram, as the thread handles it; public for the tests.
    // Nothing a datagram holds ends the thread.
    void HandleDatagram(const uint8_t* data, size_t size, uint32_t sender, uint16_t senderPort);

private:
    MessageChannel() = default;
    void Run();
    void KeepAlivePass();

    std::mutex m_lifecycleLock;
    std::recursive_mutex m_handlerLock;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<Platform::SocketHandle> m_socket{Platform::kInvalidSocket};
    std::atomic<uint16_t> m_port{0};
};

}  // namespace Vantor
