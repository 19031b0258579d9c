// The exchange loop's decisions over any run of datagrams a peer may send:
// stale and pending acknowledges, wrong senders, time passing. Whatever comes,
// no wait reaches past the exchange's end and that end stays within its cap.
#include <cstddef>
#include <cstdint>

#include "GvcpExchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    if (size < 4) return 0;
    const uint32_t commandTimeout = 1 + data[0] * 4u;  // 1..1021 ms
    const uint8_t retries = static_cast<uint8_t>(data[1] % 5);
    const uint16_t requestId = static_cast<uint16_t>(data[2] << 8 | data[3]);
    data += 4;
    size -= 4;
    constexpr uint32_t kCamera = 0x0200A9FEu;
    ExchangeDeadline deadline(commandTimeout, retries);
    const uint32_t cap = deadline.End() + kMaxPendingExtensionMs;
    uint32_t elapsed = 0;
    deadline.StartAttempt(elapsed, commandTimeout);
    // Each step: time passing, whether the sender is the camera, then one datagram.
    while (size >= 3 && !deadline.ExchangeOver(elapsed)) {
        elapsed += data[0] * 8u;
        const bool fromCamera = (data[1] & 1) != 0;
        const size_t length = data[2] % 32;
        data += 3;
        size -= 3;
        const size_t take = length < size ? length : size;
        if (deadline.Remaining(elapsed) == 0) deadline.StartAttempt(elapsed, commandTimeout);
        Gvcp::AckHeader header{};
        AckVerdict verdict = JudgeAck(data, take, fromCamera ? kCamera : kCamera + 1, Gvcp::kPort,
                                      kCamera, requestId, Gvcp::kReadRegAck, &header);
        if (!fromCamera && verdict != AckVerdict::kForeign) __builtin_trap();
        if (verdict == AckVerdict::kPending)
            deadline.Pending(elapsed, Gvcp::PendingAckTime(data, take));
        if (deadline.End() > cap) __builtin_trap();
        // A wait that is left never reaches past the end.
        const uint32_t remaining = deadline.Remaining(elapsed);
        if (remaining > 0 && uint64_t{elapsed} + remaining > deadline.End()) __builtin_trap();
        data += take;
        size -= take;
    }
    return 0;
}
