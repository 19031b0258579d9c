#include "GevStatus.h"

namespace Vantor {

const char* GevStatusText(GevStatus status) {
    switch (status) {
        case kGevOk:
            return "success";
        case kGevStatusNotImplemented:
            return "command not implemented by the device";
        case kGevStatusInvalidParameter:
            return "invalid parameter";
        case kGevStatusInvalidAddress:
            return "invalid address";
        case kGevStatusWriteProtect:
            return "address is write protected";
        case kGevStatusBadAlignment:
            return "bad alignment";
        case kGevStatusAccessDenied:
            return "access denied";
        case kGevStatusBusy:
            return "device busy";
        case kGevHandleNotOpen:
            return "handle not open";
        case kGevSlotInUse:
            return "slot in use";
        case kGevSocketCreateFailed:
            return "socket could not be created";
        case kGevSendFailed:
            return "send failed";
        case kGevReceiveFailed:
            return "receive failed";
        case kGevTimeout:
            return "no acknowledge within all attempts";
        case kGevSelectFailed:
            return "select failed";
        case kGevUnexpectedAck:
            return "acknowledge of an unexpected kind";
        case kGevHeartbeatThreadFailed:
            return "heartbeat thread could not be created";
        case kGevAdapterListFailed:
            return "adapter list could not be read";
        case kGevNotSupported:
            return "not supported";
        case kGevOpenedByOther:
            return "device already opened by another application";
        case kGevSubnetMismatch:
            return "subnet mismatch between host adapter and camera";
        case kGevImageIncomplete:
            return "image incomplete";
        case kGevNoRing:
            return "no acquisition running";
        case kGevAcquisitionEnded:
            return "acquisition ended";
        case kGevRingSlotBusy:
            return "ring slot held by the receiver";
        case kGevBadDeviceSize:
            return "size given by the device out of bounds or changing";
        default:
            return IsDeviceStatus(status) ? "device error" : "library error";
    }
}

}  // namespace Vantor
