// The memory of a fake camera for the READMEM targets, and one READMEM
// exchange with it that the fuzz input spoils or not. Every address holds a
// byte derived from it, so any misplaced copy shows.
#pragma once

#include <cstdint>
#include <cstring>

#include "FuzzInput.h"
#include "GevStatus.h"
#include "GvcpExchange.h"
#include "GvcpPackets.h"

inline uint8_t CameraByte(uint32_t address) {
    return static_cast<uint8_t>((address * 2654435761u) >> 24);
}

// What the exchange of one chunk ended with, as the target expects the read to report it.
struct ChunkOutcome {
    bool failed = false;
    Vantor::GevStatus status = Vantor::kGevOk;
};

// One acknowledge for READMEM of `chunk` bytes at `address`: whole, short
// (which the reader must refuse), or an exchange that failed.
inline Vantor::ExchangeResult FakeReadMem(FuzzInput& input, uint32_t address, uint32_t chunk,
                                          uint8_t* ack, ChunkOutcome* outcome) {
    using namespace Vantor;
    const size_t whole = Gvcp::kReadMemAckData + chunk;
    ExchangeResult result;
    result.anyReceived = true;
    Gvcp::PutU16(ack + Gvcp::kAckStatus, 0);
    Gvcp::PutU16(ack + Gvcp::kAckCode, Gvcp::kReadMemAck);
    Gvcp::PutU16(ack + Gvcp::kAckLength, static_cast<uint16_t>(whole - Gvcp::kHeaderSize));
    Gvcp::PutU32(ack + Gvcp::kHeaderSize, address);
    for (uint32_t i = 0; i < chunk; ++i) ack[Gvcp::kReadMemAckData + i] = CameraByte(address + i);
    const uint8_t how = input.Byte();
    switch (how % 8) {
        case 5: {  // short: a length below the whole acknowledge
            result.status = kGevOk;
            result.received = input.U16() % whole;
            *outcome = {true, kGevUnexpectedAck};
            break;
        }
        case 6: {  // the camera's status or the exchange's own failure
            static constexpr GevStatus kFailures[] = {kGevTimeout, kGevReceiveFailed,
                                                      kGevUnexpectedAck, 0x8006};
            result.status = kFailures[(how >> 3) % 4];
            result.received = 0;
            *outcome = {true, result.status};
            break;
        }
        default:
            result.status = kGevOk;
            result.received = whole;
            break;
    }
    return result;
}
