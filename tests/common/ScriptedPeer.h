// A scripted GVCP peer for protocol tests: a UDP socket on (address, 3956)
// whose answers the test decides datagram by datagram. Plain POSIX sockets
// and its own byte handling, so it shares no code with the library.
//
// Threads: one receive thread calls the script; the script and the record of
// received commands are guarded by one lock.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSockets.h"

namespace TestPeer {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline void Put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v >> 16));
    Put16(b, static_cast<uint16_t>(v));
}
inline Bytes AckHeader(uint16_t status, uint16_t code, uint16_t length, uint16_t id) {
    Bytes b;
    Put16(b, status);
    Put16(b, code);
    Put16(b, length);
    Put16(b, id);
    return b;
}

struct Command {
    Bytes bytes;
    uint16_t code() const { return Be16(&bytes[2]); }
    uint16_t requestId() const { return Be16(&bytes[6]); }
    uint32_t firstAddress() const { return bytes.size() >= 12 ? Be32(&bytes[8]) : 0; }
    Clock::time_point at;
    uint32_t sender;  // network order
    uint16_t senderPort;
};

struct Reply {
    Bytes bytes;
    int delayMs = 0;
};

// Answers READREG, WRITEREG, READMEM and WRITEMEM from `registers` and
// `memory` unless the script returns answers of its own.
class ScriptedPeer {
public:
    using Script = std::function<bool(const Command&, std::vector<Reply>&)>;

    explicit ScriptedPeer(const char* address, uint16_t port = 3956) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address, &local.sin_addr);
        m_bound = ::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    bool bound() const { return m_bound; }

    void SetScript(Script script) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_script = std::move(script);
    }
    void SetRegister(uint32_t address, uint32_t value) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_registers[address] = value;
    }
    uint32_t Register(uint32_t address) {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_registers[address];
    }
    void SetMemory(uint32_t address, Bytes bytes) {
        std::lock_guard<std::mutex> guard(m_lock);
        for (size_t i = 0; i < bytes.size(); ++i)
            m_memory[address + static_cast<uint32_t>(i)] = bytes[i];
    }
    uint8_t MemoryByte(uint32_t address) {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_memory[address];
    }
    std::vector<Command> Received() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_received;
    }
    std::vector<Command> Received(uint16_t code) {
        std::vector<Command> matching;
        for (const Command& c : Received())
            if (c.code() == code) matching.push_back(c);
        return matching;
    }
    // Replies sent so far (a flood tells how far it got).
    size_t RepliesSent() const { return m_repliesSent; }
    void ClearReceived() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_received.clear();
    }
    // Sends a datagram from the peer's socket (as a camera's own sender).
    void SendTo(const Bytes& bytes, uint32_t address, uint16_t port) {
        TestSockets::SendTo(m_socket, bytes, address, port);
    }

    // The standard answer of a register/memory model for one command.
    std::vector<Reply> ModelAnswer(const Command& c) {
        std::vector<Reply> replies;
        const Bytes& b = c.bytes;
        const uint16_t length = Be16(&b[4]);
        if (b.size() < 8u + length) return replies;
        Bytes ack;
        switch (c.code()) {
            case 0x0080:
                ack = AckHeader(0, 0x0081, length, c.requestId());
                for (size_t i = 0; i < length / 4u; ++i)
                    Put32(ack, m_registers[Be32(&b[8 + 4 * i])]);
                break;
            case 0x0082:
                for (size_t i = 0; i < length / 8u; ++i)
                    m_registers[Be32(&b[8 + 8 * i])] = Be32(&b[12 + 8 * i]);
                ack = AckHeader(0, 0x0083, 4, c.requestId());
                Put16(ack, 0);
                Put16(ack, static_cast<uint16_t>(length / 8u));
                break;
            case 0x0084: {
                uint32_t address = Be32(&b[8]);
                uint16_t count = Be16(&b[14]);
                ack = AckHeader(0, 0x0085, static_cast<uint16_t>(4 + count), c.requestId());
                Put32(ack, address);
                for (uint32_t i = 0; i < count; ++i) ack.push_back(m_memory[address + i]);
                break;
            }
            case 0x0086: {
                uint32_t address = Be32(&b[8]);
                for (size_t i = 12; i < 8u + length; ++i)
                    m_memory[address + static_cast<uint32_t>(i - 12)] = b[i];
                ack = AckHeader(0, 0x0087, 4, c.requestId());
                Put16(ack, 0);
                Put16(ack, static_cast<uint16_t>(length - 4));
                break;
            }
            default:
                return replies;
        }
        replies.push_back(Reply{ack, 0});
        return replies;
    }

private:
    void Run() {
        uint8_t buffer[2048];
        while (!m_stop) {
            pollfd entry{m_socket, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0) continue;
            sockaddr_in sender{};
            socklen_t length = sizeof sender;
            ssize_t size = ::recvfrom(m_socket, buffer, sizeof buffer, 0,
                                      reinterpret_cast<sockaddr*>(&sender), &length);
            if (size < 8 || buffer[0] != 0x42) continue;
            Command command{Bytes(buffer, buffer + size), Clock::now(), sender.sin_addr.s_addr,
                            ntohs(sender.sin_port)};
            std::vector<Reply> replies;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_received.push_back(command);
                if (!m_script || !m_script(command, replies)) replies = ModelAnswer(command);
            }
            for (const Reply& reply : replies) {
                // A long scripted flood ends with the peer.
                const auto due = Clock::now() + std::chrono::milliseconds(reply.delayMs);
                while (!m_stop && Clock::now() < due)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (m_stop) break;
                SendTo(reply.bytes, command.sender, command.senderPort);
                ++m_repliesSent;
            }
        }
    }

    int m_socket = -1;
    bool m_bound = false;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_repliesSent{0};
    std::mutex m_lock;
    Script m_script;
    std::map<uint32_t, uint32_t> m_registers;
    std::map<uint32_t, uint8_t> m_memory;
    std::vector<Command> m_received;
    std::thread m_thread;
};

}  // namespace TestPeer
