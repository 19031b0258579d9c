#include "GvcpExchange.h"

#include "GevLog.h"
#include "GvcpPackets.h"

namespace Vantor {

ExchangeResult RunExchange(DeviceSlot& slot, const ExchangeRequest& request, uint8_t* ack) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    ExchangeResult result;

    for (uint8_t attempt = 0; attempt < record.retryCount; ++attempt) {
        uint32_t waitSeconds = record.timeoutSeconds;
        uint32_t waitMicroseconds = record.timeoutMicroseconds;
        int sent = Platform::SendTo(record.controlSocket, request.command, request.commandSize,
                                    record.cameraAddress, Gvcp::kPort);
        if (sent != static_cast<int>(request.commandSize)) {
            DeviceLog(handle, kLogWarning, request.sendFailedText, request.commandSize, sent,
                      Platform::LastSocketError());
            if (request.sendFailureEnds) {
                result.status = kGevSendFailed;
                return result;
            }
            waitSeconds = 0;
            waitMicroseconds = 20000;
        } else if (request.sentText != nullptr) {
            DeviceLog(handle, kLogVerbose, request.sentText, request.address, waitSeconds,
                      waitMicroseconds, attempt, record.retryCount);
        }

        for (;;) {
            int ready = Platform::WaitReadable(record.controlSocket, waitSeconds, waitMicroseconds);
            if (ready == 0) {
                result.status = kGevTimeout;
                break;  // next attempt sends again
            }
            if (ready < 0) {
                result.status = kGevSelectFailed;
                return result;
            }
            int size = Platform::ReceiveFrom(record.controlSocket, ack, request.receiveCapacity);
            if (size < 0) {
                result.status = request.receiveFailure;
                return result;
            }
            result.anyReceived = true;
            Gvcp::AckHeader header{};
            bool parsed = Gvcp::ParseAckHeader(ack, static_cast<size_t>(size), &header);
            waitSeconds = record.timeoutSeconds;
            waitMicroseconds = record.timeoutMicroseconds;
            if (!parsed || header.ackId != request.requestId) {
                // A late answer to an earlier command (or a runt): not ours, keep waiting.
                if (request.sentText != nullptr)
                    DeviceLog(handle, kLogVerbose, request.sentText, request.address, waitSeconds,
                              waitMicroseconds, attempt, record.retryCount);
                continue;
            }
            if (header.status != 0) {
                result.status = header.status;
                return result;
            }
            if (header.code == Gvcp::kPendingAck) {
                uint16_t pendingMs = Gvcp::PendingAckTime(ack, static_cast<size_t>(size));
                if (pendingMs != 0) {
                    waitSeconds = pendingMs / 1000u;
                    waitMicroseconds = (pendingMs % 1000u) * 1000u;
                }
                DeviceLog(handle, kLogInfo, request.pendingText, request.address, pendingMs);
                if (request.marksPendingAck) record.pendingAck = true;
                continue;
            }
            if (header.code != request.expectedAck) {
                result.status = kGevUnexpectedAck;
                return result;
            }
            result.status = kGevOk;
            result.received = static_cast<size_t>(size);
            return result;
        }
    }
    return result;
}

}  // namespace Vantor
