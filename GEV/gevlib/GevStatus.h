// Library statuses: the unsigned 16-bit result of every VantorLib operation.
// 0 is success, 0x8001..0x8FFF are GigE Vision statuses from the camera,
// 0xC001 and up are the library's own.
#pragma once

#include <cstdint>

namespace Vantor {

using GevStatus = uint16_t;

constexpr GevStatus kGevOk = 0x0000;

// GigE Vision statuses a camera returns in an acknowledge.
constexpr GevStatus kGevStatusNotImplemented = 0x8001;
constexpr GevStatus kGevStatusInvalidParameter = 0x8002;
constexpr GevStatus kGevStatusInvalidAddress = 0x8003;
constexpr GevStatus kGevStatusWriteProtect = 0x8004;
constexpr GevStatus kGevStatusBadAlignment = 0x8005;
constexpr GevStatus kGevStatusAccessDenied = 0x8006;
constexpr GevStatus kGevStatusBusy = 0x8007;

// The library's own statuses.
constexpr GevStatus kGevHandleNotOpen = 0xC001;
constexpr GevStatus kGevSlotInUse = 0xC002;
constexpr GevStatus kGevSocketCreateFailed = 0xC003;
constexpr GevStatus kGevSendFailed = 0xC004;
constexpr GevStatus kGevReceiveFailed = 0xC005;
constexpr GevStatus kGevTimeout = 0xC008;
constexpr GevStatus kGevOutOfMemory = 0xC007;
constexpr GevStatus kGevSelectFailed = 0xC009;
constexpr GevStatus kGevUnexpectedAck = 0xC00A;
constexpr GevStatus kGevHeartbeatThreadFailed = 0xC00B;  // also the receive thread
constexpr GevStatus kGevMulticastFailed = 0xC00C;        // also: test socket port unreadable
constexpr GevStatus kGevDriverNotOpen = 0xC00D;
constexpr GevStatus kGevImageIncomplete = 0xC010;
constexpr GevStatus kGevDriverFailed = 0xC011;  // also: waiting for an image failed
constexpr GevStatus kGevDriverInvalidHandle = 0xC019;
constexpr GevStatus kGevAdapterListFailed = 0xC018;
constexpr GevStatus kGevNotSupported = 0xC020;
constexpr GevStatus kGevDriverInvalidParameter = 0xC027;
constexpr GevStatus kGevOpenedByOther = 0xC02B;
constexpr GevStatus kGevTestPacketFailed = 0xC02C;
constexpr GevStatus kGevSubnetMismatch = 0xC031;
constexpr GevStatus kGevNoRing = 0xC034;
constexpr GevStatus kGevAcquisitionEnded = 0xC035;  // the receive thread has left
constexpr GevStatus kGevRingSlotBusy = 0xC036;      // the receiver holds the slot
constexpr GevStatus kGevBadDeviceSize = 0xC037;     // a size register out of bounds or changing

// True for statuses that came from the camera rather than from the library.
constexpr bool IsDeviceStatus(GevStatus status) {
    return status >= 0x8001 && status <= 0x8FFF;
}

// A short English description of a status, for log lines.
const char* GevStatusText(GevStatus status);

}  // namespace Vantor
