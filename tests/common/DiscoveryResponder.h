// A scripted camera for discovery tests: answers DISCOVERY broadcasts (and
// the READREG of the privilege register that the access probe sends) from a
// chosen address, with acknowledges as broken as the test asks for.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "Netns.h"
#include "ScriptedPeer.h"

namespace TestPeer {

struct ResponderConfig {
    std::string address;  // the camera's address, dotted
    std::string mask = "255.255.255.0";
    std::string manufacturer = "Scripted Inc";
    std::string model = "Responder";
    std::string serial = "SN42";
    std::string userName = "left";
    uint8_t mac[6] = {0x00, 0x11, 0x1C, 0xAA, 0xBB, 0xCC};
    size_t ackLength = 256;  // anything but 256 is an incorrect acknowledge
    int copies = 1;          // acknowledges sent per discovery command
    uint16_t ackStatus = 0;
    // Access probe: privilege value, or a status instead, or no answer at all.
    uint32_t privilege = 0;
    uint16_t probeStatus = 0;
    bool probeSilent = false;
};

class DiscoveryResponder {
public:
    // Opens its sockets in namespace `ns` (the current one when empty).
    DiscoveryResponder(const std::string& ns, ResponderConfig config)
        : m_config(std::move(config)) {
        m_broadcast = ns.empty() ? ::socket(AF_INET, SOCK_DGRAM, 0) : TestNetns::UdpSocketIn(ns);
        m_unicast = ns.empty() ? ::socket(AF_INET, SOCK_DGRAM, 0) : TestNetns::UdpSocketIn(ns);
        int on = 1;
        ::setsockopt(m_broadcast, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        m_ready = Bind(m_broadcast, "255.255.255.255") && Bind(m_unicast, m_config.address.c_str());
        m_thread = std::thread([this] { Run(); });
    }
    ~DiscoveryResponder() {
        m_stop = true;
        m_thread.join();
        ::close(m_broadcast);
        ::close(m_unicast);
    }
    bool ready() const { return m_ready; }
    int discoveries() const { return m_discoveries; }
    int probes() const { return m_probes; }
    uint8_t lastDiscoveryFlags() const { return m_lastFlags; }

private:
    static bool Bind(int socket, const char* address) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(3956);
        inet_pton(AF_INET, address, &local.sin_addr);
        return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }

    Bytes DiscoveryAck(uint16_t id) const {
        Bytes ack = AckHeader(m_config.ackStatus, 0x0003, 248, id);
        ack.resize(256, 0);
        std::memcpy(&ack[18], m_config.mac, 6);
        auto address = [&](size_t at, const std::string& text) {
            inet_pton(AF_INET, text.c_str(), &ack[at]);
        };
        address(44, m_config.address);
        address(60, m_config.mask);
        auto text = [&](size_t at, size_t size, const std::string& value) {
            std::memcpy(&ack[at], value.data(), std::min(size, value.size()));
        };
        text(80, 32, m_config.manufacturer);
        text(112, 32, m_config.model);
        text(144, 32, "1.0");
        text(224, 16, m_config.serial);
        text(240, 16, m_config.userName);
        ack.resize(m_config.ackLength, 0);
        return ack;
    }

    void Answer(int from) {
        uint8_t buffer[600];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        ssize_t size = ::recvfrom(from, buffer, sizeof buffer, 0,
                                  reinterpret_cast<sockaddr*>(&sender), &length);
        if (size < 8 || buffer[0] != 0x42) return;
        const uint16_t code = Be16(&buffer[2]);
        const uint16_t id = Be16(&buffer[6]);
        Bytes reply;
        if (code == 0x0002) {
            ++m_discoveries;
            m_lastFlags = buffer[1];
            reply = DiscoveryAck(id);
        } else if (code == 0x0080 && size >= 12 && Be32(&buffer[8]) == 0x0A00) {
            ++m_probes;
            if (m_config.probeSilent) return;
            reply = AckHeader(m_config.probeStatus, 0x0081, m_config.probeStatus ? 0 : 4, id);
            if (m_config.probeStatus == 0) Put32(reply, m_config.privilege);
        } else {
            return;
        }
        int copies = code == 0x0002 ? m_config.copies : 1;
        for (int i = 0; i < copies; ++i)
            ::sendto(m_unicast, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                     sizeof sender);
    }

    void Run() {
        while (!m_stop) {
            pollfd entries[2] = {{m_broadcast, POLLIN, 0}, {m_unicast, POLLIN, 0}};
            if (::poll(entries, 2, 20) <= 0) continue;
            for (pollfd& entry : entries)
                if (entry.revents & POLLIN) Answer(entry.fd);
        }
    }

    ResponderConfig m_config;
    int m_broadcast = -1;
    int m_unicast = -1;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_discoveries{0};
    std::atomic<int> m_probes{0};
    std::atomic<uint8_t> m_lastFlags{0};
    std::thread m_thread;
};

}  // namespace TestPeer
