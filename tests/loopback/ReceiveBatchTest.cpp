// The platform's batched datagram source on real sockets: datagrams from two
// senders come out in batches with their sizes, bytes and senders; a wait with
// nothing queued returns nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "ReceiveBatch.h"
#include "Socket.h"

namespace {

struct SocketGuard {
    explicit SocketGuard(Platform::SocketHandle handle) : socket(handle) {}
    ~SocketGuard() { Platform::CloseSocket(socket); }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    Platform::SocketHandle socket;
};

class ReceiveBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr)
            GTEST_SKIP() << "run the test through tests/netns/netns-run";
        receiver = Bound("127.0.0.1");
        first = Bound("127.0.0.2");
        second = Bound("127.0.0.3");
        ASSERT_TRUE(receiver && first && second);
        port = Platform::BoundPort(receiver->socket);
        ASSERT_NE(port, 0);
    }

    static std::unique_ptr<SocketGuard> Bound(const char* address) {
        auto guard = std::make_unique<SocketGuard>(Platform::CreateUdpSocket());
        if (guard->socket == Platform::kInvalidSocket ||
            !Platform::Bind(guard->socket, Platform::ParseAddress(address), 0))
            return nullptr;
        return guard;
    }

    // Datagram `i`: its size and bytes tell it apart from every other one.
    static std::vector<uint8_t> Payload(size_t i) {
        std::vector<uint8_t> bytes(100 + i * 37);
        for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(i * 7 + k);
        return bytes;
    }

    std::unique_ptr<SocketGuard> receiver, first, second;
    uint16_t port = 0;
};

TEST_F(ReceiveBatchTest, DatagramsOfTwoSendersArriveInBatchesWithTheirSenders) {
    constexpr size_t kCount = 40, kBatch = 16;
    const uint32_t loopback = Platform::ParseAddress("127.0.0.1");
    for (size_t i = 0; i < kCount; ++i) {
        const std::vector<uint8_t> bytes = Payload(i);
        const SocketGuard& from = i % 2 == 0 ? *first : *second;
        ASSERT_EQ(Platform::SendTo(from.socket, bytes.data(), bytes.size(), loopback, port),
                  static_cast<int>(bytes.size()));
    }
    const uint32_t firstAddress = Platform::ParseAddress("127.0.0.2");
    const uint32_t secondAddress = Platform::ParseAddress("127.0.0.3");
    const uint16_t firstPort = Platform::BoundPort(first->socket);
    const uint16_t secondPort = Platform::BoundPort(second->socket);

    Platform::ReceiveBatch batch(receiver->socket, 2048, kBatch);
    size_t received = 0;
    std::vector<size_t> batches;
    for (int call = 0; call < 20 && received < kCount; ++call) {
        const int count = batch.Receive(1000);
        ASSERT_GT(count, 0) << "after " << received << " datagrams";
        ASSERT_EQ(batch.Count(), static_cast<size_t>(count));
        batches.push_back(static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) {
            const Platform::Datagram& datagram = batch[k];
            const size_t i = received++;
            const std::vector<uint8_t> want = Payload(i);
            ASSERT_EQ(datagram.size, want.size()) << "datagram " << i;
            EXPECT_EQ(std::vector<uint8_t>(datagram.data, datagram.data + datagram.size), want)
                << "datagram " << i;
            EXPECT_EQ(datagram.address, i % 2 == 0 ? firstAddress : secondAddress)
                << "datagram " << i;
            EXPECT_EQ(datagram.port, i % 2 == 0 ? firstPort : secondPort) << "datagram " << i;
        }
    }
    EXPECT_EQ(received, kCount);
    // Everything was queued before the first call: full batches, then the rest.
    EXPECT_EQ(batches, (std::vector<size_t>{kBatch, kBatch, kCount - 2 * kBatch}));
    EXPECT_EQ(batch.Receive(20), 0);
}

TEST_F(ReceiveBatchTest, WaitWithNothingQueuedReturnsNothing) {
    Platform::ReceiveBatch batch(receiver->socket, 2048, 8);
    EXPECT_EQ(batch.Receive(30), 0);
    EXPECT_EQ(batch.Count(), 0u);
}

TEST_F(ReceiveBatchTest, DatagramLongerThanTheBufferArrivesCut) {
    const std::vector<uint8_t> bytes = Payload(60);  // 2320 bytes
    ASSERT_EQ(Platform::SendTo(first->socket, bytes.data(), bytes.size(),
                               Platform::ParseAddress("127.0.0.1"), port),
              static_cast<int>(bytes.size()));
    Platform::ReceiveBatch batch(receiver->socket, 1000, 8);
    ASSERT_EQ(batch.Receive(1000), 1);
    ASSERT_EQ(batch[0].size, 1000u);
    EXPECT_EQ(std::vector<uint8_t>(batch[0].data, batch[0].data + 1000),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + 1000));
}

TEST_F(ReceiveBatchTest, CoalescingKeepsDatagramsApart) {
    Platform::ReceiveBatch batch(receiver->socket, 2048, 8);
    if (!batch.EnableCoalescing()) GTEST_SKIP() << "no receive offload on this system";
    const uint32_t loopback = Platform::ParseAddress("127.0.0.1");
    for (size_t i = 0; i < 6; ++i) {
        const std::vector<uint8_t> bytes = Payload(i);
        ASSERT_EQ(Platform::SendTo(first->socket, bytes.data(), bytes.size(), loopback, port),
                  static_cast<int>(bytes.size()));
    }
    size_t received = 0;
    for (int call = 0; call < 10 && received < 6; ++call) {
        const int count = batch.Receive(1000);
        ASSERT_GT(count, 0);
        for (int k = 0; k < count; ++k, ++received) {
            const std::vector<uint8_t> want = Payload(received);
            ASSERT_EQ(batch[k].size, want.size());
            EXPECT_EQ(std::vector<uint8_t>(batch[k].data, batch[k].data + batch[k].size), want);
        }
    }
    EXPECT_EQ(received, 6u);
}

}  // namespace
