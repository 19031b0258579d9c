// A bare GVCP host for the simulator tests, written on plain POSIX UDP sockets and
// independent of the simulator's code, so that the tests check the wire format.
// One test thread uses one client.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace SimTest {

using Bytes = std::vector<uint8_t>;

uint16_t Be16(const uint8_t* p);
uint32_t Be32(const uint8_t* p);
uint64_t Be64(const uint8_t* p);
void PutBe16(Bytes& b, uint16_t v);
void PutBe32(Bytes& b, uint32_t v);

// Skips the test unless it runs inside netns-run's private namespaces.
#define REQUIRE_PRIVATE_NETNS()                                                  \
    do {                                                                         \
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)                       \
            GTEST_SKIP() << "socket tests run only under tests/netns/netns-run"; \
    } while (0)

struct Datagram {
    Bytes bytes;
    std::string from;  // dotted sender address
    uint16_t fromPort = 0;
    uint16_t Status() const { return Be16(&bytes[0]); }
    uint16_t AckCode() const { return Be16(&bytes[2]); }
    uint16_t Length() const { return Be16(&bytes[4]); }
    uint16_t AckId() const { return Be16(&bytes[6]); }
};

class GvcpTestClient {
public:
    // Binds bindAddress:bindPort; `camera` is where commands go by default.
    explicit GvcpTestClient(const std::string& bindAddress = "127.0.0.1",
                            std::string camera = "127.0.0.2", uint16_t bindPort = 0);
    ~GvcpTestClient();
    GvcpTestClient(const GvcpTestClient&) = delete;
    GvcpTestClient& operator=(const GvcpTestClient&) = delete;

    uint16_t Port() const;
    void SetCamera(const std::string& camera) { camera_ = camera; }

    void SendRaw(const Bytes& datagram, const std::string& to, uint16_t port = 3956);
    // Builds the 8-byte header; returns the request id used.
    uint16_t Send(uint16_t command, const Bytes& payload, uint8_t flags = 0x01,
                  const std::string& to = "");
    std::optional<Datagram> Receive(int timeoutMs = 500);
    // Sends and waits for the acknowledge whose ack id matches.
    std::optional<Datagram> Transact(uint16_t command, const Bytes& payload, uint8_t flags = 0x01);

    // Register helpers: status, and the value through `value`.
    uint16_t ReadReg(uint32_t address, uint32_t* value = nullptr);
    uint16_t WriteReg(uint32_t address, uint32_t value);
    uint16_t ReadMem(uint32_t address, uint16_t count, Bytes* data);
    uint16_t WriteMem(uint32_t address, const Bytes& data);

private:
    int fd_ = -1;
    std::string camera_;
    uint16_t nextId_ = 1;
};

}  // namespace SimTest
