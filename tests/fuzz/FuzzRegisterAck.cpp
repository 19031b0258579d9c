// Any datagram that arrives on a control socket while a register or memory
// command waits for its acknowledge. The second byte asks for the datagram
// as it stands or behind the header of one of the acknowledges the library
// waits for, so that every parser path is reached. Whatever comes, no more
// values are copied than asked for, announced and present, each is the
// datagram's, and the verdict on it follows the header.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "GvcpExchange.h"
#include "GvcpPackets.h"

namespace {

void Check(bool holds) {
    if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    if (size < 2) return 0;
    // The first byte picks how many registers the command asked for.
    const size_t count = data[0] % 8 + 1;
    const uint8_t mode = data[1];
    data += 2;
    size -= 2;
    uint8_t datagram[Gvcp::kMaxDatagram];
    size = std::min(size, sizeof datagram);
    std::memcpy(datagram, data, size);
    if (mode & 1) {
        static constexpr uint16_t kCodes[] = {Gvcp::kReadRegAck, Gvcp::kReadMemAck,
                                              Gvcp::kPendingAck, Gvcp::kWriteRegAck};
        size = std::max(size, Gvcp::kHeaderSize);
        Gvcp::PutU16(datagram + Gvcp::kAckStatus, mode & 2 ? 0x8006 : 0);
        Gvcp::PutU16(datagram + Gvcp::kAckCode, kCodes[(mode >> 2) % 4]);
        if (mode & 0x10)
            Gvcp::PutU16(datagram + Gvcp::kAckLength,
                         static_cast<uint16_t>(size - Gvcp::kHeaderSize));
        Gvcp::PutU16(datagram + Gvcp::kAckId, 7);
    }

    Gvcp::AckHeader header{};
    const bool parsed = Gvcp::ParseAckHeader(datagram, size, &header);
    Check(parsed == (size >= Gvcp::kHeaderSize));
    uint32_t values[8];
    const size_t copied = Gvcp::ParseReadRegValues(datagram, size, values, count);
    if (!parsed) {
        Check(copied == 0 && Gvcp::PendingAckTime(datagram, size) == 0);
        return 0;
    }
    const size_t announced = (size_t{header.length} + 3) / 4;
    const size_t present = (size - Gvcp::kHeaderSize) / 4;
    Check(copied == std::min({announced, present, count}));
    for (size_t i = 0; i < copied; ++i)
        Check(values[i] == Gvcp::GetU32(datagram + Gvcp::kHeaderSize + 4 * i));
    const uint16_t pending = Gvcp::PendingAckTime(datagram, size);
    Check(pending ==
          (size >= Gvcp::kPendingAckSize ? Gvcp::GetU16(datagram + Gvcp::kPendingTime) : 0));

    // The verdict of an exchange waiting for request 7's READREG acknowledge.
    constexpr uint32_t kCamera = 0x0200A9FE;
    Gvcp::AckHeader judged{};
    const AckVerdict verdict =
        JudgeAck(datagram, size, kCamera, Gvcp::kPort, kCamera, 7, Gvcp::kReadRegAck, &judged);
    if (header.ackId != 7)
        Check(verdict == AckVerdict::kStale);
    else if (header.status != 0)
        Check(verdict == AckVerdict::kStatus);
    else if (header.code == Gvcp::kPendingAck)
        Check(verdict == AckVerdict::kPending);
    else
        Check(verdict ==
              (header.code == Gvcp::kReadRegAck ? AckVerdict::kAccepted : AckVerdict::kUnexpected));
    return 0;
}
